#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVariant>

// The design-time properties a host form keeps for each of its controls.
// An entry equal to its default is never stored, so reading it back yields
// whatever default the reader asks for.
class PropertyBag
{
public:
    QVariant readProperty(const QString &name, const QVariant &defaultValue = QVariant()) const;
    // Stores the value unless it equals the default; a stale entry of the
    // same name is dropped in that case.
    void writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue);
    // Stores the value unconditionally (a property written without a default).
    void writeProperty(const QString &name, const QVariant &value);

    bool contains(const QString &name) const { return m_values.contains(name); }
    int count() const { return int(m_values.size()); }
    QStringList names() const { return m_values.keys(); }
    void clear() { m_values.clear(); }

    QJsonObject toJson() const;
    static PropertyBag fromJson(const QJsonObject &object);

private:
    QMap<QString, QVariant> m_values;
};
