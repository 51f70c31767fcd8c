#pragma once

#include <utility>

/// Runs a call when the scope ends, also when an exception passes.
template <class F> class TFinally
{
public:
    explicit TFinally(F call) : call_(std::move(call)) {}
    ~TFinally() { call_(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F call_;
};
