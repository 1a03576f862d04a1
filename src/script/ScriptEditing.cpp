#include "ScriptEditing.h"

#include "ScriptNumbers.h"
#include "StepFunctions.h"

namespace ScriptEditing {

QString EditStartText(qint16 keyAscii, const QString &cellText)
{
    if (keyAscii >= 0 && keyAscii <= 32)
        return cellText;
    return QString(QChar(char16_t(keyAscii)));
}

Commit CommitCellEdit(int row, int col, qint16 nextStep, bool editorVisible, const QString &editorText)
{
    Commit commit;
    commit.editorText = editorText;
    if (col == FunctionColumn) {
        const QString name = StepFunctions::canonical(editorText);
        commit.editorText = name.isEmpty() ? QStringLiteral("BaseCCW") : name;
    } else if (col == TimeColumn && LeadingNumber(editorText) < 0) {
        commit.editorText = QStringLiteral("0");
    }

    if (row >= nextStep) {
        commit.editorText.clear();
        return commit;
    }
    if (!editorVisible)
        return commit;

    if (col == TimeColumn) {
        double value = 0;
        if (WholeTextNumber(commit.editorText, &value)) {
            commit.writeCell = true;
            commit.cellText = NumberText(value);
        }
    } else if (col == FunctionColumn) {
        commit.writeCell = true;
        commit.cellText = commit.editorText;
    }
    commit.hideEditor = true;
    return commit;
}

} // namespace ScriptEditing
