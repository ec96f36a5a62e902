#include "decoderapi.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes;

// Loading the real library is the end-to-end tests' first step.
TEST(DecoderLibrary, MissingLibraryOrFunctionIsReportedByName)
{
    DecoderApi api;
    QString error;
    ASSERT_FALSE(loadDecoderLibrary(QStringLiteral(KESTRINE_STUB_DIR), api, error));
    EXPECT_TRUE(error.contains(QStringLiteral("libvbmp3.so"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("vbmp3_free"))) << error.toStdString();
    EXPECT_EQ(api.init, nullptr); // the table stays untouched

    QTemporaryDir empty;
    if (!loadDecoderLibrary(empty.path(), api, error)) { // an installed copy would be found instead
        EXPECT_TRUE(error.contains(QStringLiteral("libvbmp3.so"))) << error.toStdString();
    }
}
