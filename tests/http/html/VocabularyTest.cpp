// The builder's vocabulary: the tag each element function writes and the
// attribute name each global is written as, listed here by hand so that a
// typo in the builder's own tables shows.
#include "http/html/AttributeTable.h"
#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/ScopesBuffer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vuzozar {

namespace {

std::vector<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> split;
    for (std::string word; stream >> word;) {
        split.push_back(word);
    }
    return split;
}

} // namespace

TEST(HtmlVocabulary, EachElementFunctionWritesItsTag) {
    const std::vector<const ElementFunction*> functions{
        &a,         &abbr,     &acronym,    &address,    &applet,   &area,     &article,
        &aside,     &audio,    &b,          &base,       &basefont, &bdi,      &bdo,
        &bgsound,   &big,      &blink,      &blockquote, &body,     &br,       &button,
        &canvas,    &caption,  &center,     &cite,       &code,     &col,      &colgroup,
        &command,   &content,  &data,       &datalist,   &dd,       &del,      &details,
        &dfn,       &dialog,   &dir,        &div,        &dl,       &dt,       &em,
        &embed,     &fieldset, &figcaption, &figure,     &font,     &footer,   &form,
        &frame,     &frameset, &h1,         &h2,         &h3,       &h4,       &h5,
        &h6,        &head,     &header,     &hgroup,     &hr,       &html,     &i,
        &iframe,    &image,    &img,        &input,      &ins,      &isindex,  &kbd,
        &keygen,    &label,    &legend,     &li,         &link,     &listing,  &main,
        &map,       &mark,     &marquee,    &menu,       &menuitem, &meta,     &meter,
        &multicol,  &nav,      &nobr,       &noembed,    &noframes, &noscript, &object,
        &ol,        &optgroup, &option,     &output,     &p,        &param,    &picture,
        &plaintext, &pre,      &progress,   &q,          &rp,       &rt,       &rtc,
        &ruby,      &s,        &samp,       &script,     &section,  &select,   &shadow,
        &small,     &source,   &spacer,     &span,       &strike,   &strong,   &style,
        &sub,       &summary,  &sup,        &table,      &tbody,    &td,       &template_,
        &textarea,  &tfoot,    &th,         &thead,      &time,     &title,    &tr,
        &track,     &tt,       &u,          &ul,         &video,    &wbr,      &xmp,
        &varr,      &elementt};
    const std::vector<std::string> tags =
        words("a abbr acronym address applet area article aside audio b base basefont bdi bdo "
              "bgsound big blink blockquote body br button canvas caption center cite code col "
              "colgroup command content data datalist dd del details dfn dialog dir div dl dt "
              "em embed fieldset figcaption figure font footer form frame frameset h1 h2 h3 h4 "
              "h5 h6 head header hgroup hr html i iframe image img input ins isindex kbd "
              "keygen label legend li link listing main map mark marquee menu menuitem meta "
              "meter multicol nav nobr noembed noframes noscript object ol optgroup option "
              "output p param picture plaintext pre progress q rp rt rtc ruby s samp script "
              "section select shadow small source spacer span strike strong style sub summary "
              "sup table tbody td template textarea tfoot th thead time title tr track tt u ul "
              "video wbr xmp var element");
    ASSERT_EQ(functions.size(), 142u);
    ASSERT_EQ(tags.size(), functions.size());
    for (size_t index = 0; index < tags.size(); ++index) {
        scopesBuffer().clear();
        (*functions[index])([] {});
        EXPECT_EQ(scopesBuffer(), "<" + tags[index] + "></" + tags[index] + ">");
    }
}

TEST(HtmlVocabulary, EachAttributeGlobalWritesItsNameInItsPlace) {
    const std::vector<const attr::Attribute*> globals{
        &attr::idd,          &attr::dir,         &attr::rel,          &attr::rev,
        &attr::alt,          &attr::forr,        &attr::src,          &attr::type,
        &attr::href,         &attr::text,        &attr::abbr,         &attr::size,
        &attr::face,         &attr::char_,       &attr::cite,         &attr::span,
        &attr::data,         &attr::axis,        &attr::Name,         &attr::name,
        &attr::code,         &attr::link,        &attr::lang,         &attr::cols,
        &attr::rows,         &attr::ismap,       &attr::shape,        &attr::style,
        &attr::alink,        &attr::width,       &attr::rules,        &attr::align,
        &attr::frame,        &attr::vlink,       &attr::deferr,       &attr::color,
        &attr::media,        &attr::title,       &attr::scope,        &attr::classs,
        &attr::manifest,     &attr::value,       &attr::clear,        &attr::start,
        &attr::label,        &attr::action,      &attr::height,       &attr::method,
        &attr::acceptt,      &attr::object,      &attr::scheme,       &attr::coords,
        &attr::usemap,       &attr::onblur,      &attr::nohref,       &attr::nowrap,
        &attr::hspace,       &attr::border,      &attr::valign,       &attr::vspace,
        &attr::onload,       &attr::target,      &attr::prompt,       &attr::onfocus,
        &attr::enctype,      &attr::onclick,     &attr::ontouchstart, &attr::onkeyup,
        &attr::profile,      &attr::version,     &attr::onreset,      &attr::charset,
        &attr::standby,      &attr::colspan,     &attr::charoff,      &attr::classid,
        &attr::compact,      &attr::declare,     &attr::rowspan,      &attr::checked,
        &attr::archive,      &attr::bgcolor,     &attr::content,      &attr::noshade,
        &attr::summary,      &attr::headers,     &attr::onselect,     &attr::readonly,
        &attr::tabindex,     &attr::onchange,    &attr::noresize,     &attr::disabled,
        &attr::longdesc,     &attr::codebase,    &attr::language,     &attr::datetime,
        &attr::selected,     &attr::hreflang,    &attr::onsubmit,     &attr::multiple,
        &attr::onunload,     &attr::codetype,    &attr::scrolling,    &attr::onkeydown,
        &attr::maxlength,    &attr::valuetype,   &attr::accesskey,    &attr::onmouseup,
        &attr::autofocus,    &attr::onkeypress,  &attr::ondblclick,   &attr::onmouseout,
        &attr::httpEquiv,    &attr::dataText,    &attr::background,   &attr::onmousemove,
        &attr::onmouseover,  &attr::cellpadding, &attr::onmousedown,  &attr::frameborder,
        &attr::marginwidth,  &attr::cellspacing, &attr::placeholder,  &attr::marginheight,
        &attr::acceptCharset};
    const std::vector<std::string> names =
        words("id dir rel rev alt for src type href text abbr size face char cite span data "
              "axis Name name code link lang cols rows ismap shape style alink width rules "
              "align frame vlink defer color media title scope class manifest value clear "
              "start label action height method accept object scheme coords usemap onblur "
              "nohref nowrap hspace border valign vspace onload target prompt onfocus enctype "
              "onclick ontouchstart onkeyup profile version onreset charset standby colspan "
              "charoff classid compact declare rowspan checked archive bgcolor content noshade "
              "summary headers onselect readonly tabindex onchange noresize disabled longdesc "
              "codebase language datetime selected hreflang onsubmit multiple onunload "
              "codetype scrolling onkeydown maxlength valuetype accesskey onmouseup autofocus "
              "onkeypress ondblclick onmouseout http-equiv data-text background onmousemove "
              "onmouseover cellpadding onmousedown frameborder marginwidth cellspacing "
              "placeholder marginheight accept-charset");
    auto table = namedAttributes();
    ASSERT_EQ(globals.size(), 125u);
    ASSERT_EQ(names.size(), globals.size());
    ASSERT_EQ(table.size(), globals.size());
    for (size_t index = 0; index < globals.size(); ++index) {
        EXPECT_EQ(table[index].value, globals[index]) << names[index];
        EXPECT_EQ(table[index].name, names[index]);
        scopesBuffer().clear();
        p([&] { *globals[index] = "v"; });
        EXPECT_EQ(scopesBuffer(), "<p " + names[index] + "=\"v\"></p>");
    }
    scopesBuffer().clear();
    p([] { attr::inner = "v"; });
    EXPECT_EQ(scopesBuffer(), "<p>v</p>");
}

} // namespace vuzozar
