// The file-type table against what the desktop is told: the .desktop file and the
// AppStream file claim the MIME types the media controls report, and the desktop's MIME
// database knows every added ending under one of them.
#include "mediatypes.h"
#include "testfiles.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

#include <gtest/gtest.h>

using namespace kes;

namespace
{

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

TEST(MediaTypes, DesktopAndAppStreamFilesClaimTheTypesOfTheTable)
{
    const QString data = QStringLiteral(KESTRINE_SOURCE_DIR "/app/data/");
    const QString desktop = QString::fromUtf8(readBytes(data + QStringLiteral("kestrine.desktop")));
    const QRegularExpressionMatch line
        = QRegularExpression(QStringLiteral("^MimeType=(.*)$"), QRegularExpression::MultilineOption).match(desktop);
    ASSERT_TRUE(line.hasMatch());
    const QStringList fromDesktop = line.captured(1).split(u';', Qt::SkipEmptyParts);
    QStringList fromAppStream;
    const QString metainfo
        = QString::fromUtf8(readBytes(data + QStringLiteral("io.github.kestrine.kestrine.metainfo.xml")));
    for (const QRegularExpressionMatch &m :
        QRegularExpression(QStringLiteral("<mediatype>([^<]*)</mediatype>")).globalMatch(metainfo))
        fromAppStream << m.captured(1);

    QStringList table = supportedMimeTypes();
    EXPECT_EQ(QStringList(table).removeDuplicates(), 0);
    EXPECT_TRUE(table.contains(QStringLiteral("audio/x-mpegurl")));
    // Sorted, not deduplicated: a type listed twice is a fault too.
    EXPECT_EQ(sorted(fromDesktop), sorted(table));
    EXPECT_EQ(sorted(fromAppStream), sorted(table));

    // A type code stands for one kind only: a code given twice would shadow the later row.
    for (const MediaType &t : kMediaTypes)
        for (int16_t code : t.typeCodes)
            if (code >= 0) {
                EXPECT_EQ(mediaTypeOfCode(code), &t) << t.ending << ' ' << code;
            }
}

TEST(MediaTypes, EveryAddedEndingIsKnownToTheDesktopUnderAClaimedType)
{
    QFile globs(QStringLiteral("/usr/share/mime/globs"));
    if (!globs.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no shared MIME database (/usr/share/mime/globs)";
    QMultiHash<QString, QString> typesOfGlob;
    for (const QByteArray &raw : globs.readAll().split('\n')) {
        const QString entry = QString::fromUtf8(raw);
        const qsizetype colon = entry.indexOf(u':');
        if (!entry.startsWith(u'#') && colon > 0)
            typesOfGlob.insert(entry.mid(colon + 1), entry.left(colon));
    }
    const QStringList claimed = supportedMimeTypes();
    for (const MediaType &t : addedMediaTypes()) {
        const QStringList known = typesOfGlob.values(QStringLiteral("*.") + QLatin1StringView(t.ending));
        EXPECT_TRUE(std::any_of(known.begin(), known.end(), [&](const QString &m) { return claimed.contains(m); }))
            << t.ending << " is known as " << known.join(u' ').toStdString();
    }
}
