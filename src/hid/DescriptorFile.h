#pragma once

// Report descriptors kept in files, for tools and tests. A file holds the descriptor as raw bytes,
// as hex text ("05 01 09 02", "0x05, 0x01, ..."), or as a hid-recorder dump (the bytes of the
// "R:" line; "#" lines are comments).

#include "HidReportDescriptor.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

class DescriptorFile
{
public:
    struct Result
    {
        std::optional<QByteArray> bytes;
        QString error; // why there are no bytes
        bool ok() const { return bytes.has_value(); }
    };

    // Reads and decodes a file; files above 1 MiB are refused (a descriptor is at most 64 KiB).
    static Result load(const QString &path);
    // Decodes file contents: text when every byte is printable ASCII or white space and the text
    // reads as hex, raw bytes otherwise. A file with an "R:" line must be a valid hid-recorder dump.
    static Result decode(const QByteArray &contents);

    // The layout as the JSON object printed by "tessaro-cli describe".
    static QJsonObject toJson(const HidReportLayout &layout);

    // Everything "describe FILE" does, short of printing: exit status 0 with the indented JSON in
    // output, 1 when the file cannot be read, 2 when the descriptor is malformed; error is one line.
    struct Description
    {
        int exitStatus = 0;
        QByteArray output;
        QString error;
    };
    static Description describe(const QString &path);
};
