// How elements nest, take their attributes and content, and give back the
// attribute globals.
#include "http/html/Elements.h"
#include "http/html/AttributeTable.h"
#include "http/html/Attributes.h"
#include "http/html/ScopesBuffer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vuzozar {

namespace {

// The text that `build` writes, on a fresh buffer of this thread.
std::string built(const Closure& build) {
    scopesBuffer().clear();
    build();
    return scopesBuffer();
}

} // namespace

TEST(HtmlElements, NestAndFollowOneAnotherWithoutWhiteSpace) {
    EXPECT_EQ(built([] {
                  html([] {
                      body([] {
                          p([] { attr::inner = "hi"; });
                          p([] { attr::inner = "there"; });
                      });
                  });
              }),
              "<html><body><p>hi</p><p>there</p></body></html>");
    EXPECT_EQ(built([] {
                  ul([] {
                      li([] { attr::inner = "one"; });
                      li([] { attr::inner = "two"; });
                  });
              }),
              "<ul><li>one</li><li>two</li></ul>");
}

TEST(HtmlElements, VoidElementsGetTheirEndTag) {
    EXPECT_EQ(built([] { br([] {}); }), "<br></br>");
    EXPECT_EQ(built([] { div([] {}); }), "<div></div>");
    EXPECT_EQ(built([] { input([] { attr::type = "file"; }); }), "<input type=\"file\"></input>");
    EXPECT_EQ(built([] { varr([] { attr::inner = "x"; }); }), "<var>x</var>");
    EXPECT_EQ(built([] { elementt([] {}); }), "<element></element>");
    EXPECT_EQ(built([] { template_([] {}); }), "<template></template>");
}

TEST(HtmlElements, InnerReplacesWhatTheChildrenWrote) {
    EXPECT_EQ(built([] {
                  p([] {
                      b([] { attr::inner = "dropped"; });
                      attr::inner = "kept";
                  });
              }),
              "<p>kept</p>");
    EXPECT_EQ(built([] {
                  p([] {
                      attr::inner = "";
                      b([] {});
                  });
              }),
              "<p></p>");
}

TEST(HtmlElements, AGlobalBelongsToTheElementWhoseClosureSetIt) {
    std::string before = built([] {
        div([] {
            attr::idd = "main";
            p([] { attr::inner = "t"; });
        });
    });
    std::string after = built([] {
        div([] {
            p([] { attr::inner = "t"; });
            attr::idd = "main";
        });
    });
    EXPECT_EQ(before, "<div id=\"main\"><p>t</p></div>");
    EXPECT_EQ(after, before);
    EXPECT_EQ(built([] {
                  a([] {
                      attr::inner = "X";
                      attr::href = "/x";
                  });
              }),
              "<a href=\"/x\">X</a>");
}

TEST(HtmlElements, GlobalsSetOutsideAnElementAreNeitherWrittenNorLost) {
    attr::src = "outside";
    attr::inner = "outside text";
    std::string text = built([] { img([] {}); });
    EXPECT_EQ(text, "<img></img>");
    EXPECT_EQ(attr::src, "outside");
    EXPECT_EQ(attr::inner, "outside text");
    attr::src.reset();
    attr::inner.reset();
}

TEST(HtmlElements, GlobalsComeBackWhenAClosureThrows) {
    attr::title = "kept";
    EXPECT_THROW(div([] {
                     attr::title = "inside";
                     attr::inner = "inside";
                     throw std::runtime_error("page failed");
                 }),
                 std::runtime_error);
    EXPECT_EQ(attr::title, "kept");
    EXPECT_FALSE(attr::inner.has_value());
    attr::title.reset();
}

TEST(HtmlElements, NamesAndValuesAreWrittenAsGiven) {
    EXPECT_EQ(built([] {
                  input([] {
                      attr::Name = "A";
                      attr::name = "a";
                      attr::disabled = "";
                  });
              }),
              "<input Name=\"A\" name=\"a\" disabled=\"\"></input>");
    EXPECT_EQ(built([] {
                  p([] {
                      attr::classs = "a\"b";
                      attr::inner = "<b>caf\xC3\xA9</b>";
                  });
              }),
              "<p class=\"a\"b\"><b>caf\xC3\xA9</b></p>");
}

TEST(HtmlElements, ExplicitAttributesWinOverGlobals) {
    EXPECT_EQ(built([] {
                  stylesheet([] {
                      attr::type = "text/plain";
                      attr::href = "/s.css";
                  });
              }),
              "<link type=\"text/css\" href=\"/s.css\" rel=\"stylesheet\"></link>");
    EXPECT_EQ(built([] { javascript([] { attr::src = "/a.js"; }); }),
              "<script src=\"/a.js\" type=\"text/javascript\"></script>");
    EXPECT_EQ(built([] {
                  element("p", {{"id", std::nullopt}, {"lang", "en"}}, [] {
                      attr::idd = "hidden";
                      attr::lang = "de";
                  });
              }),
              "<p lang=\"en\"></p>");
}

TEST(HtmlElements, EveryAttributeGlobalWritesItsOwnName) {
    std::set<std::string> names;
    scopesBuffer().clear();
    std::string expected = "<p";
    p([&] {
        for (const NamedAttribute& attribute : namedAttributes()) {
            *attribute.value = "v";
            names.insert(std::string(attribute.name));
            expected += " " + std::string(attribute.name) + "=\"v\"";
        }
    });
    EXPECT_EQ(names.size(), 125u);
    EXPECT_EQ(scopesBuffer(), expected + "></p>");
    for (const char* name : {"id", "class", "for", "defer", "accept", "http-equiv", "data-text",
                             "accept-charset", "Name", "name", "char"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
    for (const NamedAttribute& attribute : namedAttributes()) {
        EXPECT_FALSE(attribute.value->has_value()) << attribute.name;
    }
}

TEST(HtmlElements, AnElementOutsideAPageAppendsToTheThreadsBuffer) {
    scopesBuffer() = "before";
    hr([] {});
    EXPECT_EQ(scopesBuffer(), "before<hr></hr>");
}

TEST(HtmlSequenceElements, WriteOneEntryAfterTheOther) {
    std::vector<std::string> none;
    EXPECT_EQ(built([&] { ul(none, [](const std::string&) { FAIL(); }); }), "<ul></ul>");
    EXPECT_EQ(built([&] { tbody(none, [](const std::string&) {}); }), "<tbody></tbody>");

    std::vector<std::string> letters{"a", "b"};
    EXPECT_EQ(built([&] {
                  ul(letters, [](const std::string& letter) { li([&] { attr::inner = letter; }); });
              }),
              "<ul><li>a</li><li>b</li></ul>");

    std::vector<std::pair<std::string, std::string>> pairs{{"a", "1"}, {"a", "2"}, {"b", ""}};
    EXPECT_EQ(built([&] {
                  table(pairs, [](const auto& pair) {
                      tr([&] {
                          td([&] { attr::inner = pair.first; });
                          td([&] { attr::inner = pair.second; });
                      });
                  });
              }),
              "<table><tr><td>a</td><td>1</td></tr><tr><td>a</td><td>2</td></tr>"
              "<tr><td>b</td><td></td></tr></table>");

    std::map<std::string, std::string> entries{{"k1", "v1"}, {"k2", "v2"}};
    EXPECT_EQ(built([&] {
                  table(entries, [](const auto& entry) {
                      tr([&] { td([&] { attr::inner = entry.first + "=" + entry.second; }); });
                  });
              }),
              "<table><tr><td>k1=v1</td></tr><tr><td>k2=v2</td></tr></table>");
}

TEST(HtmlSequenceElements, GlobalsSetPerEntryBelongToTheWholeElement) {
    std::vector<std::string> classes{"first", "last"};
    EXPECT_EQ(built([&] {
                  ul(classes, [](const std::string& name) {
                      attr::classs = name;
                      li([] {});
                  });
              }),
              "<ul class=\"last\"><li></li><li></li></ul>");
    EXPECT_EQ(built([&] {
                  table(classes, [](const std::string& name) {
                      tr([] {});
                      attr::inner = name;
                  });
              }),
              "<table>last</table>");
}

} // namespace vuzozar
