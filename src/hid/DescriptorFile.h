#pragma once

// Report descriptors kept in files, for tools and tests. A file holds the descriptor as raw bytes,
// as hex text ("05 01 09 02", "0x05, 0x01, ..."), or as a hid-recorder dump (the bytes of the
// "R:" line; "#" lines are comments).

#include "HidReportDescriptor.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

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
    // Decodes file contents. Text is valid UTF-8 (a byte-order mark is skipped) with no control
    // bytes but white space; "#" lines and "//" tails are comments and may hold any text. Text with
    // an "R:" line must be a valid hid-recorder dump; other text whose first token is a hex byte is
    // hex text, and a later token that is not one is an error naming it and its line. Anything else
    // is raw bytes.
    static Result decode(const QByteArray &contents);

    // Writes the layout as the JSON object printed by "tessaro-cli describe", one variable at a
    // time, so that memory stays with the layout rather than growing with the text. Returns false
    // when out refuses a write.
    static bool writeJson(const HidReportLayout &layout, QIODevice &out);

    // Everything "describe FILE" does: exit status 0 with the indented JSON written to out, 1 when
    // the file cannot be read or out cannot be written, 2 when the descriptor is malformed; nothing
    // is written unless the status is 0 (short of a write failure). error is one line.
    struct Description
    {
        int exitStatus = 0;
        QString error;
    };
    static Description describe(const QString &path, QIODevice &out);
    // The same for descriptor bytes read elsewhere (from a device); name stands for them in the error.
    static Description describeBytes(const QByteArray &bytes, const QString &name, QIODevice &out);
};
