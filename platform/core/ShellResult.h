#pragma once

#include <cstdint>

// Result codes of the namespace and data-transfer interfaces, with the values
// their callers test. Success codes are not negative; a comparison carries its
// signed 16-bit answer in the low half of a success code.

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);

// System error numbers that the namespace answers as results of the
// operating-system facility.
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;

/// The failure code of a system error number (S_OK for none).
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t error)
{
    return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000u);
}

constexpr HRESULT E_ACCESSDENIED = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

constexpr bool SUCCEEDED(HRESULT result)
{
    return result >= 0;
}
constexpr bool FAILED(HRESULT result)
{
    return result < 0;
}

/// The success code that carries a comparison's answer (negative, zero or
/// positive) in its low 16 bits.
constexpr HRESULT CompareResult(int order)
{
    return static_cast<HRESULT>(static_cast<uint16_t>(static_cast<int16_t>(order)));
}

/// The signed 16-bit answer in the low half of a code.
constexpr int16_t ResultCode(HRESULT result)
{
    return static_cast<int16_t>(result & 0xFFFF);
}
