// The welcome photograph and the libjpeg decoder, with damaged input.

#include "app/JpegPicture.h"

#include <gtest/gtest.h>

#include <QFile>

#include <string>

namespace {

std::string Photograph()
{
    QFile file(QStringLiteral(":/taviro/welcome.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

app::JpegPicture Decode(const std::string& bytes)
{
    return app::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(JpegPicture, TheWelcomePhotographIsABaseline240By124ColourJpeg)
{
    // The window registers its resources; a form is not needed for reading them.
    const std::string bytes = Photograph();
    ASSERT_FALSE(bytes.empty()) << "resource :/taviro/welcome.jpg";
    // Baseline: the frame header is SOF0, no other kind of frame.
    EXPECT_NE(bytes.find("\xFF\xC0"), std::string::npos);
    for (const char* marker : { "\xFF\xC1", "\xFF\xC2", "\xFF\xC3", "\xFF\xC9", "\xFF\xCA" })
        EXPECT_EQ(bytes.find(marker), std::string::npos);

    const app::JpegPicture picture = Decode(bytes);
    EXPECT_EQ(picture.Error, "");
    EXPECT_EQ(picture.Width, 240);
    EXPECT_EQ(picture.Height, 124);
    EXPECT_EQ(picture.Components, 3);
    EXPECT_FALSE(picture.Progressive);
    ASSERT_EQ(picture.Image.size(), QSize(240, 124));
    // A photograph in colour: the sky above is blue, not grey.
    const QColor sky = picture.Image.pixelColor(10, 5);
    EXPECT_GT(sky.blue(), sky.red() + 40);
}

TEST(JpegPicture, DamagedInputGivesAnErrorAndNoPicture)
{
    const std::string good = Photograph();
    ASSERT_FALSE(good.empty());
    std::string huge = good;
    // The frame header's height and width (after FF C0, length and precision).
    const std::size_t sof = huge.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    huge.replace(sof + 5, 4, std::string("\xFF\xF0\xFF\xF0", 4));

    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        { "empty", "" },
        { "not a JPEG", "GIF89a this is something else entirely" },
        { "start marker only", std::string("\xFF\xD8", 2) },
        { "cut inside the headers", good.substr(0, 120) },
        { "65520 x 65520 pixels", huge },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const app::JpegPicture picture = Decode(c.bytes);
        EXPECT_TRUE(picture.Image.isNull());
        EXPECT_NE(picture.Error, "");
    }
}

TEST(JpegPicture, MissingScanDataIsFilledInNotFatal)
{
    const std::string good = Photograph();
    ASSERT_GT(good.size(), 2000u);
    // libjpeg warns about the premature end and fills the rest of the picture.
    const app::JpegPicture picture = Decode(good.substr(0, good.size() / 2));
    EXPECT_EQ(picture.Error, "");
    EXPECT_EQ(picture.Image.size(), QSize(240, 124));
}

} // namespace
