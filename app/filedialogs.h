#pragma once

// The file dialogs of the program behind one call, so that tests can answer
// them as they answer message boxes: with a chooser set, no dialog opens.

#include <QString>

#include <functional>

class QWidget;

namespace Platform {

struct FileRequest
{
    enum class Mode { Open, Save };
    Mode mode = Mode::Open;
    QString title;
    QString folder;        // where the dialog opens; empty for the working directory
    QString filter;        // "Описание (*.ext)" lines, separated by ";;"
    QString defaultSuffix; // added to a name typed without one (Save); empty for none
};

// The file the operator chose, or an empty string when the dialog was cancelled.
QString chooseFile(QWidget* owner, const FileRequest& request);

// Test hook: when set, chooseFile() returns what this returns and no dialog opens.
void setFileChooser(std::function<QString(const FileRequest&)> chooser);

} // namespace Platform
