// SPDX-License-Identifier: GPL-3.0-or-later
#include "harvest/address.h"

qsizetype lastSlashPosition(QStringView text, qsizetype start)
{
    if (start < 1 || text.size() <= start)
        return 0;
    const qsizetype index = text.lastIndexOf(u'/');
    return index + 1 >= start ? index + 1 : 0;
}

QString splitBaseAddress(const QString &typed)
{
    // "https://" is one character longer than "http://": its own slashes must not count as the
    // end of the base address. The scheme's letter case does not matter for this.
    const qsizetype start = typed.startsWith(u"https://", Qt::CaseInsensitive) ? 9 : 8;
    const qsizetype slash = lastSlashPosition(typed, start);
    if (slash > 0)
        return typed.left(slash);
    return typed + u'/';
}

QString imageAddress(const QString &base, const QString &ref)
{
    if (ref.startsWith(u"http://") || ref.startsWith(u"https://"))
        return ref;
    return base + ref;
}

QString imageFileName(const QString &ref)
{
    const qsizetype slash = lastSlashPosition(ref, 1);
    return slash > 0 ? ref.mid(slash) : ref;
}
