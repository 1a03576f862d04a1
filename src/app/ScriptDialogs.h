#pragma once

#include <QString>

class QWidget;

// The questions the script toolbar asks the operator: a file to open, a file to save to, and the
// error messages. They sit behind this interface so that a test can answer them without a dialog
// ever waiting for a person.
class ScriptDialogs
{
public:
    virtual ~ScriptDialogs() = default;

    // A name for loading; names of files that do not exist are accepted too. `filter` is in Qt's
    // form ("Script Files (*.SRP);;All Files (*.*)"). Returns the full path, or an empty string when
    // the operator cancels.
    virtual QString openFileName(QWidget *parent, const QString &startName, const QString &filter) = 0;

    // A name for saving, in a folder that exists; replacing an existing file is confirmed first.
    // Returns the path as chosen, or an empty string when the operator cancels.
    virtual QString saveFileName(QWidget *parent, const QString &startName, const QString &filter) = 0;

    // A modal message box with the error icon.
    virtual void errorMessage(QWidget *parent, const QString &title, const QString &text) = 0;
    // A modal message box with the warning icon.
    virtual void warningMessage(QWidget *parent, const QString &title, const QString &text) = 0;

    // The answers of the questions below that a caller answering none of them gets are what the
    // program did before it asked: go on, and no hint.

    enum class SaveChoice { Save, Discard, Cancel };
    // Whether to save unsaved changes before they are lost; `offerSave` false leaves only Discard
    // and Cancel (an empty script cannot be saved).
    virtual SaveChoice askToSave(QWidget * /*parent*/, const QString & /*text*/, bool /*offerSave*/)
    {
        return SaveChoice::Discard;
    }
    // A Yes/No question; true for Yes.
    virtual bool confirm(QWidget * /*parent*/, const QString & /*title*/, const QString & /*text*/) { return true; }
    // A short note beside `anchor` (an editor whose input was refused) that does not take the focus;
    // an empty text takes the note away.
    virtual void hint(QWidget * /*anchor*/, const QString & /*text*/) {}
};

// The real dialogs: Qt's own file dialog (so that its checks are the same on every desktop) and a
// message box.
class WidgetScriptDialogs : public ScriptDialogs
{
public:
    QString openFileName(QWidget *parent, const QString &startName, const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &startName, const QString &filter) override;
    void errorMessage(QWidget *parent, const QString &title, const QString &text) override;
    void warningMessage(QWidget *parent, const QString &title, const QString &text) override;
    SaveChoice askToSave(QWidget *parent, const QString &text, bool offerSave) override;
    bool confirm(QWidget *parent, const QString &title, const QString &text) override;
    // A tooltip under the anchor.
    void hint(QWidget *anchor, const QString &text) override;
};

// Converts a filter text in the "Description|pattern|Description|pattern" form, where a pattern may
// list several globs separated by ";", into Qt's "Description (globs);;..." form. A description that
// already ends with its globs in parentheses is kept as it is.
QString QtFileFilter(const QString &pipeFilter);

// The one file dialog object shared by loading and saving: the name chosen last, in either dialog,
// is offered again by the next one. Cancelling leaves FileName as it was.
class CommonDialog
{
public:
    explicit CommonDialog(ScriptDialogs *dialogs = nullptr) : m_dialogs(dialogs) {}

    void SetDialogs(ScriptDialogs *dialogs) { m_dialogs = dialogs; }
    ScriptDialogs *Dialogs() const { return m_dialogs; }

    QString FileName() const { return m_fileName; }
    void SetFileName(const QString &name) { m_fileName = name; }
    // In the pipe-separated form; see QtFileFilter.
    QString Filter() const { return m_filter; }
    void SetFilter(const QString &filter) { m_filter = filter; }

    // Where a dialog starts while no name has been chosen yet: the folder of the last script.
    QString Folder() const { return m_folder; }
    void SetFolder(const QString &folder) { m_folder = folder; }

    // Each returns false on cancel (or without dialogs); on true, FileName holds the chosen name.
    bool ShowOpen(QWidget *parent);
    bool ShowSave(QWidget *parent);

private:
    ScriptDialogs *m_dialogs = nullptr;
    QString startName() const;

    QString m_fileName;
    QString m_filter;
    QString m_folder;
};
