#include "http/HttpRequest.h"

#include <gtest/gtest.h>

namespace vuzozar {

namespace {

HttpRequest requestWith(const std::string& contentType, std::string_view body) {
    HttpRequest request;
    request.headers["content-type"] = contentType;
    request.body.assign(body.begin(), body.end());
    return request;
}

const std::string multipartType = "multipart/form-data; boundary=XyZ";

std::string bodyOf(const HttpRequest::MultiPart& part) {
    return {part.body.begin(), part.body.end()};
}

} // namespace

TEST(UrlencodedForm, DecodesPlusThenEscapes) {
    auto request =
        requestWith("application/x-www-form-urlencoded; charset=UTF-8", "name=J%C3%B6rg+K&x=a%2Bb");
    EXPECT_EQ(request.parseUrlencodedForm(),
              (QueryParams{{"name", "J\xC3\xB6rg K"}, {"x", "a+b"}}));
}

TEST(UrlencodedForm, MalformedPiecesBecomeEmptyPairs) {
    const std::string type = "application/x-www-form-urlencoded";
    EXPECT_EQ(requestWith(type, "a=b=c").parseUrlencodedForm(), (QueryParams{{"", ""}}));
    EXPECT_EQ(requestWith(type, "%zz=1").parseUrlencodedForm(), (QueryParams{{"", ""}}));
    EXPECT_EQ(requestWith(type, "a=%C3").parseUrlencodedForm(), (QueryParams{{"", ""}}));
    EXPECT_EQ(requestWith(type, "a=1&b").parseUrlencodedForm(),
              (QueryParams{{"a", "1"}, {"", ""}}));
    EXPECT_EQ(requestWith(type, "").parseUrlencodedForm(), (QueryParams{{"", ""}}));
    EXPECT_EQ(requestWith(type, "a=").parseUrlencodedForm(), (QueryParams{{"a", ""}}));
}

TEST(UrlencodedForm, OnlyTheExactContentTypeAndUtf8Bodies) {
    EXPECT_TRUE(
        requestWith("Application/X-WWW-Form-Urlencoded", "a=b").parseUrlencodedForm().empty());
    EXPECT_TRUE(
        requestWith("application/x-www-form-urlencoded", "a=\xFF").parseUrlencodedForm().empty());
    EXPECT_TRUE(HttpRequest().parseUrlencodedForm().empty());
    auto request = requestWith("  application/x-www-form-urlencoded ;x", "k=v");
    EXPECT_EQ(request.parseUrlencodedForm(), (QueryParams{{"k", "v"}}));
    EXPECT_EQ(request.parseUrlencodedForm(), request.parseUrlencodedForm()) << "repeatable";
}

TEST(MultiPartForm, OnePartWithNameAndFileName) {
    const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=f; filename=a.txt\r\n"
                             "\r\nhello\r\n--XyZ--\r\n";
    auto parts = requestWith(multipartType, body).parseMultiPartFormData();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].name(), "f");
    EXPECT_EQ(parts[0].fileName(), "a.txt");
    EXPECT_EQ(bodyOf(parts[0]), "hello");
    EXPECT_EQ(parts[0].headers.at("content-disposition"), "form-data; name=f; filename=a.txt");

    const std::string quoted = "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; "
                               "filename=\"a.txt\"\r\n\r\nhello\r\n--XyZ--\r\n";
    auto quotedParts = requestWith(multipartType, quoted).parseMultiPartFormData();
    ASSERT_EQ(quotedParts.size(), 1u);
    EXPECT_EQ(quotedParts[0].name(), "f");
    EXPECT_EQ(quotedParts[0].fileName(), "a.txt");
    EXPECT_EQ(bodyOf(quotedParts[0]), "hello");
}

TEST(MultiPartForm, SeveralPartsInOrder) {
    const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"comment\"\r\n\r\n"
                             "first line\r\nsecond\r\n--XyZ\r\nContent-Disposition: form-data; "
                             "name=\"my_file1\"; filename=\"a.txt\"\r\nContent-Type: text/plain\r\n"
                             "\r\n\r\n--XyZ--\r\n";
    auto parts = requestWith(multipartType, body).parseMultiPartFormData();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name(), "comment");
    EXPECT_FALSE(parts[0].fileName().has_value());
    EXPECT_EQ(bodyOf(parts[0]), "first line\r\nsecond");
    EXPECT_EQ(parts[1].name(), "my_file1");
    EXPECT_EQ(parts[1].headers.at("content-type"), "text/plain");
    EXPECT_TRUE(parts[1].body.empty());
}

TEST(MultiPartForm, PreambleOrMissingClosingDelimiter) {
    EXPECT_TRUE(requestWith(multipartType, "preamble\r\n--XyZ\r\nA: b\r\n\r\nhello\r\n--XyZ--\r\n")
                    .parseMultiPartFormData()
                    .empty());
    auto parts = requestWith(multipartType, "--XyZ\r\nA: b\r\n\r\none\r\n--XyZ\r\nA: c\r\n\r\ntwo")
                     .parseMultiPartFormData();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(bodyOf(parts[0]), "one");
}

TEST(MultiPartForm, HeaderLineWithTwoColonsIsDropped) {
    auto parts =
        requestWith(multipartType,
                    "--XyZ\r\nContent-Disposition: form-data; name=c:d\r\n\r\nv\r\n--XyZ--\r\n")
            .parseMultiPartFormData();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_TRUE(parts[0].headers.empty());
    EXPECT_FALSE(parts[0].name().has_value());

    auto adjacent = requestWith(multipartType, "--XyZ\r\nA::b\r\nEmpty:\r\n:lead\r\n\r\nv\r\n"
                                               "--XyZ--\r\n")
                        .parseMultiPartFormData();
    ASSERT_EQ(adjacent.size(), 1u);
    EXPECT_EQ(adjacent[0].headers, (HttpHeaders{{"", "lead"}, {"empty", ""}}))
        << "two adjacent colons are two colons; one colon with nothing after it is an empty value";
}

TEST(MultiPartForm, QuotedBoundaryKeepsItsQuotes) {
    const std::string body = "--XyZ\r\nA: b\r\n\r\nhello\r\n--XyZ--\r\n";
    EXPECT_TRUE(requestWith("multipart/form-data; boundary=\"XyZ\"", body)
                    .parseMultiPartFormData()
                    .empty());
    const std::string quotedBody = "--\"XyZ\"\r\nA: b\r\n\r\nhello\r\n--\"XyZ\"--\r\n";
    EXPECT_EQ(requestWith("multipart/form-data; boundary=\"XyZ\"", quotedBody)
                  .parseMultiPartFormData()
                  .size(),
              1u);
}

TEST(MultiPartForm, LineBreakBeforeTheDelimiter) {
    auto loneCr = requestWith(multipartType, "--XyZ\r\nA: b\r\n\r\nabc\r\r\n--XyZ--\r\n")
                      .parseMultiPartFormData();
    ASSERT_EQ(loneCr.size(), 1u);
    EXPECT_EQ(bodyOf(loneCr[0]), "abc\r");
    auto direct =
        requestWith(multipartType, "--XyZ\r\nA: b\r\n\r\nx--XyZ--\r\n").parseMultiPartFormData();
    ASSERT_EQ(direct.size(), 1u);
    EXPECT_EQ(bodyOf(direct[0]), "x");
    auto bareLf =
        requestWith(multipartType, "--XyZ\nA: b\n\nline\n--XyZ--\n").parseMultiPartFormData();
    ASSERT_EQ(bareLf.size(), 1u);
    EXPECT_EQ(bodyOf(bareLf[0]), "line");
}

TEST(MultiPartForm, PartialDelimiterMatchesRestart) {
    // "--X" starts a match that "--XyZ" breaks; the content keeps it whole.
    auto parts =
        requestWith(multipartType, "--XyZ\r\n\r\na--Xq--Xy\r\n--XyZ--").parseMultiPartFormData();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(bodyOf(parts[0]), "a--Xq--Xy");
}

TEST(MultiPartForm, WrongTypeOrNoBoundary) {
    const std::string body = "--XyZ\r\nA: b\r\n\r\nhello\r\n--XyZ--\r\n";
    EXPECT_TRUE(
        requestWith("multipart/mixed; boundary=XyZ", body).parseMultiPartFormData().empty());
    EXPECT_TRUE(requestWith("multipart/form-data", body).parseMultiPartFormData().empty());
    EXPECT_TRUE(
        requestWith("multipart/form-data; boundary=", body).parseMultiPartFormData().empty());
    EXPECT_TRUE(HttpRequest().parseMultiPartFormData().empty());
    EXPECT_EQ(requestWith("multipart/form-data; boundary=no; boundary=XyZ", body)
                  .parseMultiPartFormData()
                  .size(),
              1u)
        << "the last boundary parameter wins";
}

TEST(MultiPartForm, ParameterWithoutEqualsSign) {
    HttpRequest::MultiPart part;
    part.headers["content-disposition"] = "form-data; name; name=late";
    EXPECT_EQ(part.name(), "name") << "the first piece named so, whole when it holds no =";
    part.headers["content-disposition"] = "form-data; name=a=b";
    EXPECT_EQ(part.name(), "b") << "the text after the last =";
}

} // namespace vuzozar
