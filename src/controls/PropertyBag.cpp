#include "PropertyBag.h"

#include <QJsonValue>

namespace {

// Compares in the default's type so that, say, a stored 345.0 and a default
// of 345 count as equal.
bool equalsDefault(const QVariant &value, const QVariant &defaultValue)
{
    if (!defaultValue.isValid())
        return false;
    QVariant converted = value;
    if (!converted.convert(defaultValue.metaType()))
        return false;
    return converted == defaultValue;
}

} // namespace

QVariant PropertyBag::readProperty(const QString &name, const QVariant &defaultValue) const
{
    const auto it = m_values.constFind(name);
    if (it == m_values.constEnd())
        return defaultValue;
    if (defaultValue.isValid()) {
        QVariant converted = *it;
        if (converted.convert(defaultValue.metaType()))
            return converted;
        return defaultValue;
    }
    return *it;
}

void PropertyBag::writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue)
{
    if (equalsDefault(value, defaultValue))
        m_values.remove(name);
    else
        m_values.insert(name, value);
}

void PropertyBag::writeProperty(const QString &name, const QVariant &value)
{
    m_values.insert(name, value);
}

QJsonObject PropertyBag::toJson() const
{
    QJsonObject object;
    for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it)
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return object;
}

PropertyBag PropertyBag::fromJson(const QJsonObject &object)
{
    PropertyBag bag;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        bag.m_values.insert(it.key(), it.value().toVariant());
    return bag;
}
