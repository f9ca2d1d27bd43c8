#include "app/filedialogs.h"

#include <QFileDialog>

namespace Platform {

namespace {

std::function<QString(const FileRequest&)>& chooser()
{
    static std::function<QString(const FileRequest&)> c;
    return c;
}

} // namespace

void setFileChooser(std::function<QString(const FileRequest&)> c)
{
    chooser() = std::move(c);
}

QString chooseFile(QWidget* owner, const FileRequest& request)
{
    if (chooser())
        return chooser()(request);
    const bool saving = request.mode == FileRequest::Mode::Save;
    QFileDialog dialog(owner, request.title, request.folder, request.filter);
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Added before the dialog asks whether to replace a file, so it asks about the right one.
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace Platform
