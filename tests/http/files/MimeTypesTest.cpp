#include "http/files/MimeTypes.h"

#include <gtest/gtest.h>

namespace vuzozar {

TEST(MimeTypes, ExtensionsMatchWholeAndWithoutCase) {
    EXPECT_EQ(mimeType("PHOTO.JPG"), "image/jpeg");
    EXPECT_EQ(mimeType("Index.HTML"), "text/html");
    EXPECT_EQ(mimeType("a/b/page.shtml"), "text/html");
    EXPECT_EQ(mimeType("x.htm"), "text/html");
    EXPECT_EQ(mimeType("x.kml"), "application/vnd.google-earth.kml+xml");
    EXPECT_EQ(mimeType("x.kmz"), "application/vnd.google-earth.kmz");
    EXPECT_EQ(mimeType("x.tk"), "application/x-tcl");
    EXPECT_EQ(mimeType("x.woff"), "application/font-woff");
    EXPECT_EQ(mimeType("x.7z"), "application/x-7z-compressed");
    EXPECT_EQ(mimeType("x.jardiff"), "application/x-java-archive-diff");
    EXPECT_EQ(mimeType("x.pptx"),
              "application/vnd.openxmlformats-officedocument.presentationml.presentation");
    // The Kelvin sign lowercases to a plain k.
    EXPECT_EQ(matchMimeType("\u212Aar"), "audio/midi");
}

TEST(MimeTypes, EverythingElseIsOctetStream) {
    for (const char* path :
         {"notes", "archive.tar.gz", "x.bin", "x.csv", "x.wav", "x.woff2", "x.", ".profile", ""}) {
        EXPECT_EQ(mimeType(path), "application/octet-stream") << path;
    }
    EXPECT_EQ(matchMimeType(std::nullopt), "application/octet-stream");
    EXPECT_EQ(matchMimeType(".png"), "application/octet-stream");
    EXPECT_EQ(matchMimeType("png "), "application/octet-stream");
    EXPECT_EQ(matchMimeType("pn"), "application/octet-stream");
    EXPECT_EQ(matchMimeType("\xff\xfe"), "application/octet-stream");
}

TEST(MimeTypes, PathExtensionIsTheLastDotOfTheLastName) {
    EXPECT_EQ(pathExtension("a.b/c"), "");
    EXPECT_EQ(pathExtension("a/c.txt/"), "txt");
    EXPECT_EQ(pathExtension("/"), "");
    EXPECT_EQ(pathExtension("dir/.hidden"), "");
    EXPECT_EQ(pathExtension("dir/.hidden.png"), "png");
    EXPECT_EQ(pathExtension("name."), "");
}

TEST(MimeTypes, UrlsUseTheirDecodedPathOnly) {
    EXPECT_EQ(urlMimeType("http://host.png/"), "application/octet-stream");
    EXPECT_EQ(urlMimeType("http://host/dir"), "application/octet-stream");
    EXPECT_EQ(urlMimeType("https://host/a/photo.JPG?size=big.png#x.css"), "image/jpeg");
    EXPECT_EQ(urlMimeType("http://host/a%2Ejson"), "application/json");
    EXPECT_EQ(urlMimeType("/relative/style.css"), "text/css");
}

} // namespace vuzozar
