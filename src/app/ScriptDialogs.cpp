#include "ScriptDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <QToolTip>

namespace {

// Qt's dialog in AnyFile mode returns a name in a folder that does not exist without a word; a
// script could then never be written there. The save dialog stays open instead, as the open dialog
// stays open on a folder name.
class ScriptFileDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        if (acceptMode() == AcceptSave) {
            const QStringList files = selectedFiles();
            if (!files.isEmpty()) {
                const QFileInfo chosen(files.first());
                if (!chosen.isDir() && !QFileInfo(chosen.absolutePath()).isDir()) {
                    QMessageBox::warning(this, windowTitle(),
                                         QStringLiteral("The folder %1 does not exist.")
                                             .arg(QDir::toNativeSeparators(chosen.absolutePath())));
                    return;
                }
            }
        }
        QFileDialog::accept();
    }
};

QString runFileDialog(QWidget *parent, QFileDialog::AcceptMode mode, const QString &startName,
                      const QString &filter)
{
    ScriptFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    // Open accepts a name that does not exist as well; reading it is what fails then.
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension gets the script one, and the overwrite question is asked
    // about the file that will really be written.
    if (mode == QFileDialog::AcceptSave)
        dialog.setDefaultSuffix(QStringLiteral("SRP"));
    dialog.setNameFilters(filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts));
    if (mode == QFileDialog::AcceptSave)
        dialog.setWindowTitle(QStringLiteral("Save As"));
    else
        dialog.setWindowTitle(QStringLiteral("Open"));
    if (!startName.isEmpty()) {
        const QFileInfo start(startName);
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

QString WidgetScriptDialogs::openFileName(QWidget *parent, const QString &startName, const QString &filter)
{
    return runFileDialog(parent, QFileDialog::AcceptOpen, startName, filter);
}

QString WidgetScriptDialogs::saveFileName(QWidget *parent, const QString &startName, const QString &filter)
{
    return runFileDialog(parent, QFileDialog::AcceptSave, startName, filter);
}

void WidgetScriptDialogs::errorMessage(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void WidgetScriptDialogs::warningMessage(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

ScriptDialogs::SaveChoice WidgetScriptDialogs::askToSave(QWidget *parent, const QString &text, bool offerSave)
{
    const QMessageBox::StandardButtons buttons =
        (offerSave ? QMessageBox::Save : QMessageBox::NoButton) | QMessageBox::Discard | QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Unsaved changes"), text, buttons, parent);
    box.setDefaultButton(offerSave ? QMessageBox::Save : QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::Discard;
    default:
        return SaveChoice::Cancel;
    }
}

bool WidgetScriptDialogs::confirm(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void WidgetScriptDialogs::hint(QWidget *anchor, const QString &text)
{
    if (text.isEmpty())
        QToolTip::hideText();
    else if (anchor)
        QToolTip::showText(anchor->mapToGlobal(QPoint(0, anchor->height())), text, anchor);
}

QString QtFileFilter(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList globs = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &glob : globs) {
            glob = glob.trimmed();
            // "*.*" means every file in the filter's home; Qt's *.* would miss names without a dot.
            if (glob == QLatin1String("*.*"))
                glob = QStringLiteral("*");
        }
        const QString globText = globs.join(QLatin1Char(' '));
        QString description = parts[i].trimmed();
        if (globText == QLatin1String("*") && description.endsWith(QLatin1String("(*.*)")))
            description.replace(description.size() - 5, 5, QStringLiteral("(*)"));
        // Qt filters by the globs in the last parentheses, so they must be the pattern's.
        if (description.endsWith(QStringLiteral("(%1)").arg(globText)))
            entries << description;
        else
            entries << QStringLiteral("%1 (%2)").arg(description, globText);
    }
    return entries.join(QStringLiteral(";;"));
}

QString CommonDialog::startName() const
{
    if (!m_fileName.isEmpty() || m_folder.isEmpty())
        return m_fileName;
    // A folder with no file in it: the dialog opens there with no name chosen.
    return QDir(m_folder).absolutePath() + QLatin1Char('/');
}

bool CommonDialog::ShowOpen(QWidget *parent)
{
    if (!m_dialogs)
        return false;
    const QString name = m_dialogs->openFileName(parent, startName(), QtFileFilter(m_filter));
    if (name.isEmpty())
        return false;
    m_fileName = name;
    return true;
}

bool CommonDialog::ShowSave(QWidget *parent)
{
    if (!m_dialogs)
        return false;
    const QString name = m_dialogs->saveFileName(parent, startName(), QtFileFilter(m_filter));
    if (name.isEmpty())
        return false;
    m_fileName = name;
    return true;
}
