#pragma once

#include <QString>

#include <exception>
#include <string>

// The one error form of the HID classes: a number, the member that raised it and a description.
// Mirrors the Automation error triple so that callers can test numbers exactly.
class HidError : public std::exception
{
public:
    // Base of user-defined object errors; RaiseError adds its code to it.
    static constexpr qint32 ObjectErrorBase = -2147221504;
    // Numbers of the run-time errors that keep their classic meaning.
    static constexpr qint32 Overflow = 6;
    static constexpr qint32 TypeMismatch = 13;

    HidError(qint32 number, QString source, QString description)
        : m_number(number), m_source(std::move(source)), m_description(std::move(description)),
          m_what((m_source + QStringLiteral(": ") + m_description).toStdString())
    {
    }

    qint32 number() const { return m_number; }
    const QString &source() const { return m_source; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

    static HidError overflow(const QString &source = QString())
    {
        return HidError(Overflow, source, QStringLiteral("Overflow"));
    }
    static HidError typeMismatch(const QString &source = QString())
    {
        return HidError(TypeMismatch, source, QStringLiteral("Type mismatch"));
    }

private:
    qint32 m_number;
    QString m_source;
    QString m_description;
    std::string m_what;
};
