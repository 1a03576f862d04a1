#include "SettingsReader.h"

#include "NumberReading.h"

#include <QFile>
#include <QStringList>


namespace {

// A settings file is seven short lines; anything past this is not ours to read.
constexpr qint64 MaxFileBytes = 64 * 1024;

QString trimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

} // namespace

int DialogSettings::entryNumber() const
{
    for (int number = 1; number <= 5; ++number) {
        if (entry == QString::number(number))
            return number;
    }
    return 0;
}

std::optional<QStringList> SettingsReader::readLines(const QString &path, int maxLines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromLatin1(file.read(MaxFileBytes));

    QStringList lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size() && lines.size() < maxLines) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (lines.size() < maxLines && start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString SettingsReader::lineValue(const QString &line)
{
    const QString text = trimSpaces(line);
    if (text.startsWith(u'"')) {
        const qsizetype close = text.indexOf(u'"', 1);
        return close < 0 ? text.mid(1) : text.mid(1, close - 1);
    }
    const qsizetype comma = text.indexOf(u',');
    return comma < 0 ? text : trimSpaces(text.left(comma));
}

std::optional<quint32> SettingsReader::colourValue(const QString &line)
{
    const QString value = trimSpaces(lineValue(line));
    if (value.isEmpty())
        return 0u;
    double number = 0;
    qint32 whole = 0;
    if (!WholeTextNumber(value, &number) || !RoundToInt32(number, &whole))
        return std::nullopt;
    return static_cast<quint32>(whole);
}

StartupSettings SettingsReader::readStartup(const QString &path)
{
    StartupSettings settings;
    const std::optional<QStringList> lines = readLines(path, 7);
    if (!lines) {
        // No file yet: highlighting off and a black selection.
        settings.selectionColour = 0u;
        return settings;
    }
    settings.hilight = lines->size() >= 2 && lineValue(lines->at(1)) == u"Yes";
    if (lines->size() >= 5)
        settings.selectionColour = colourValue(lines->at(4));
    if (lines->size() >= 7)
        settings.currentDevice = trimSpaces(lineValue(lines->at(6))).toUpper();
    return settings;
}

DialogSettings SettingsReader::readDialog(const QString &path)
{
    DialogSettings settings;
    const std::optional<QStringList> lines = readLines(path, 5);
    if (!lines)
        return settings;
    settings.highlight = lines->size() >= 2 && lineValue(lines->at(1)) == u"Yes";
    if (lines->size() >= 3)
        settings.entry = lineValue(lines->at(2));
    if (lines->size() >= 5)
        settings.colour = colourValue(lines->at(4));
    return settings;
}
