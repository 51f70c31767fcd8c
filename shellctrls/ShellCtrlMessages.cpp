#include "shellctrls/ShellCtrlMessages.h"

#include "platform/core/PathCodec.h"

#include <QMessageBox>

namespace {

/// Why a rename failed, in the words of the message box.
QString RenameErrorText(HRESULT result, const QString& name)
{
    switch (result) {
    case HRESULT_FROM_WIN32(ERROR_INVALID_NAME):
        return QStringLiteral("その名前は付けられません。\n"
                              "名前を空にしたり「.」や「..」にしたりはできず、"
                              "「/」も使えません。");
    case HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE):
        return QStringLiteral("名前が長すぎます。255 バイト以内の名前にしてください。");
    case HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS):
        return QStringLiteral("「%1」という名前のファイルまたはフォルダが既にあります。\n"
                              "別の名前を指定してください。")
            .arg(name);
    case E_ACCESSDENIED:
        return QStringLiteral("このフォルダの名前を変更する権限がありません。");
    case HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND):
        return QStringLiteral("フォルダが見つかりません。移動または削除された可能性があります。");
    default:
        return QStringLiteral("「%1」に名前を変更できませんでした。").arg(name);
    }
}

} // namespace

void ShowRenameFailure(QWidget* owner, HRESULT result, const std::string& name)
{
    auto* box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("名前の変更"),
                        RenameErrorText(result, PathToQString(name)), QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // Opened, not run: the editor that asked may still be closing.
    box->open();
}
