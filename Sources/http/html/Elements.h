#pragma once

#include "http/html/Scopes.h"

#include <concepts>
#include <ranges>
#include <string_view>

// The element functions of the HTML builder (html/Scopes.h): `p(content)`
// writes one "p" element around what `content` builds. Every element gets
// its end tag, also those HTML writes without one: `br([] {})` writes
// "<br></br>". Names follow html/Attributes.h: `varr` writes "var",
// `elementt` "element", `template_` "template".
namespace vuzozar {

// An element function: writes the element `tag` with no explicit
// attributes. Any thread; throws as element() does (html/Scopes.h).
class ElementFunction {
public:
    constexpr explicit ElementFunction(std::string_view tag) : tag_(tag) {}
    template <std::invocable Content> void operator()(Content&& content) const {
        element(tag_, content);
    }

private:
    std::string_view tag_;
};

// "ul", "table" and "tbody" also write a sequence: `ul(items, entry)` calls
// `entry` once per item, in the sequence's order, inside one element. The
// calls are not elements of their own: globals that `entry` sets outside a
// nested element belong to the list or table itself.
// Any thread; throws as element() does, with `entry` in place of the content
// closure.
class SequenceElementFunction : public ElementFunction {
public:
    using ElementFunction::ElementFunction;
    using ElementFunction::operator();

    template <std::ranges::input_range Sequence, class Entry>
    requires std::invocable<Entry&, std::ranges::range_reference_t<Sequence>>
    void operator()(Sequence&& sequence, Entry&& entry) const {
        ElementFunction::operator()([&] {
            for (auto&& item : sequence) {
                entry(item);
            }
        });
    }
};

inline constexpr ElementFunction a{"a"};
inline constexpr ElementFunction abbr{"abbr"};
inline constexpr ElementFunction acronym{"acronym"};
inline constexpr ElementFunction address{"address"};
inline constexpr ElementFunction applet{"applet"};
inline constexpr ElementFunction area{"area"};
inline constexpr ElementFunction article{"article"};
inline constexpr ElementFunction aside{"aside"};
inline constexpr ElementFunction audio{"audio"};
inline constexpr ElementFunction b{"b"};
inline constexpr ElementFunction base{"base"};
inline constexpr ElementFunction basefont{"basefont"};
inline constexpr ElementFunction bdi{"bdi"};
inline constexpr ElementFunction bdo{"bdo"};
inline constexpr ElementFunction bgsound{"bgsound"};
inline constexpr ElementFunction big{"big"};
inline constexpr ElementFunction blink{"blink"};
inline constexpr ElementFunction blockquote{"blockquote"};
inline constexpr ElementFunction body{"body"};
inline constexpr ElementFunction br{"br"};
inline constexpr ElementFunction button{"button"};
inline constexpr ElementFunction canvas{"canvas"};
inline constexpr ElementFunction caption{"caption"};
inline constexpr ElementFunction center{"center"};
inline constexpr ElementFunction cite{"cite"};
inline constexpr ElementFunction code{"code"};
inline constexpr ElementFunction col{"col"};
inline constexpr ElementFunction colgroup{"colgroup"};
inline constexpr ElementFunction command{"command"};
inline constexpr ElementFunction content{"content"};
inline constexpr ElementFunction data{"data"};
inline constexpr ElementFunction datalist{"datalist"};
inline constexpr ElementFunction dd{"dd"};
inline constexpr ElementFunction del{"del"};
inline constexpr ElementFunction details{"details"};
inline constexpr ElementFunction dfn{"dfn"};
inline constexpr ElementFunction dialog{"dialog"};
inline constexpr ElementFunction dir{"dir"};
inline constexpr ElementFunction div{"div"};
inline constexpr ElementFunction dl{"dl"};
inline constexpr ElementFunction dt{"dt"};
inline constexpr ElementFunction em{"em"};
inline constexpr ElementFunction embed{"embed"};
inline constexpr ElementFunction fieldset{"fieldset"};
inline constexpr ElementFunction figcaption{"figcaption"};
inline constexpr ElementFunction figure{"figure"};
inline constexpr ElementFunction font{"font"};
inline constexpr ElementFunction footer{"footer"};
inline constexpr ElementFunction form{"form"};
inline constexpr ElementFunction frame{"frame"};
inline constexpr ElementFunction frameset{"frameset"};
inline constexpr ElementFunction h1{"h1"};
inline constexpr ElementFunction h2{"h2"};
inline constexpr ElementFunction h3{"h3"};
inline constexpr ElementFunction h4{"h4"};
inline constexpr ElementFunction h5{"h5"};
inline constexpr ElementFunction h6{"h6"};
inline constexpr ElementFunction head{"head"};
inline constexpr ElementFunction header{"header"};
inline constexpr ElementFunction hgroup{"hgroup"};
inline constexpr ElementFunction hr{"hr"};
inline constexpr ElementFunction html{"html"};
inline constexpr ElementFunction i{"i"};
inline constexpr ElementFunction iframe{"iframe"};
inline constexpr ElementFunction image{"image"};
inline constexpr ElementFunction img{"img"};
inline constexpr ElementFunction input{"input"};
inline constexpr ElementFunction ins{"ins"};
inline constexpr ElementFunction isindex{"isindex"};
inline constexpr ElementFunction kbd{"kbd"};
inline constexpr ElementFunction keygen{"keygen"};
inline constexpr ElementFunction label{"label"};
inline constexpr ElementFunction legend{"legend"};
inline constexpr ElementFunction li{"li"};
inline constexpr ElementFunction link{"link"};
inline constexpr ElementFunction listing{"listing"};
inline constexpr ElementFunction main{"main"};
inline constexpr ElementFunction map{"map"};
inline constexpr ElementFunction mark{"mark"};
inline constexpr ElementFunction marquee{"marquee"};
inline constexpr ElementFunction menu{"menu"};
inline constexpr ElementFunction menuitem{"menuitem"};
inline constexpr ElementFunction meta{"meta"};
inline constexpr ElementFunction meter{"meter"};
inline constexpr ElementFunction multicol{"multicol"};
inline constexpr ElementFunction nav{"nav"};
inline constexpr ElementFunction nobr{"nobr"};
inline constexpr ElementFunction noembed{"noembed"};
inline constexpr ElementFunction noframes{"noframes"};
inline constexpr ElementFunction noscript{"noscript"};
inline constexpr ElementFunction object{"object"};
inline constexpr ElementFunction ol{"ol"};
inline constexpr ElementFunction optgroup{"optgroup"};
inline constexpr ElementFunction option{"option"};
inline constexpr ElementFunction output{"output"};
inline constexpr ElementFunction p{"p"};
inline constexpr ElementFunction param{"param"};
inline constexpr ElementFunction picture{"picture"};
inline constexpr ElementFunction plaintext{"plaintext"};
inline constexpr ElementFunction pre{"pre"};
inline constexpr ElementFunction progress{"progress"};
inline constexpr ElementFunction q{"q"};
inline constexpr ElementFunction rp{"rp"};
inline constexpr ElementFunction rt{"rt"};
inline constexpr ElementFunction rtc{"rtc"};
inline constexpr ElementFunction ruby{"ruby"};
inline constexpr ElementFunction s{"s"};
inline constexpr ElementFunction samp{"samp"};
inline constexpr ElementFunction script{"script"};
inline constexpr ElementFunction section{"section"};
inline constexpr ElementFunction select{"select"};
inline constexpr ElementFunction shadow{"shadow"};
inline constexpr ElementFunction small{"small"};
inline constexpr ElementFunction source{"source"};
inline constexpr ElementFunction spacer{"spacer"};
inline constexpr ElementFunction span{"span"};
inline constexpr ElementFunction strike{"strike"};
inline constexpr ElementFunction strong{"strong"};
inline constexpr ElementFunction style{"style"};
inline constexpr ElementFunction sub{"sub"};
inline constexpr ElementFunction summary{"summary"};
inline constexpr ElementFunction sup{"sup"};
inline constexpr SequenceElementFunction table{"table"};
inline constexpr SequenceElementFunction tbody{"tbody"};
inline constexpr ElementFunction td{"td"};
inline constexpr ElementFunction template_{"template"};
inline constexpr ElementFunction textarea{"textarea"};
inline constexpr ElementFunction tfoot{"tfoot"};
inline constexpr ElementFunction th{"th"};
inline constexpr ElementFunction thead{"thead"};
inline constexpr ElementFunction time{"time"};
inline constexpr ElementFunction title{"title"};
inline constexpr ElementFunction tr{"tr"};
inline constexpr ElementFunction track{"track"};
inline constexpr ElementFunction tt{"tt"};
inline constexpr ElementFunction u{"u"};
inline constexpr SequenceElementFunction ul{"ul"};
inline constexpr ElementFunction video{"video"};
inline constexpr ElementFunction wbr{"wbr"};
inline constexpr ElementFunction xmp{"xmp"};
inline constexpr ElementFunction varr{"var"};
inline constexpr ElementFunction elementt{"element"};

// The fixed attributes of stylesheet() and javascript(). Any thread; they
// live for the whole process. Throw only std::bad_alloc, on the first call.
const ExplicitAttributes& stylesheetAttributes();
const ExplicitAttributes& javascriptAttributes();

// A "link" element with "rel" = "stylesheet" and "type" = "text/css", which
// win over the same attributes set in `content`. Any thread; throws as
// element() does.
template <std::invocable Content> void stylesheet(Content&& content) {
    element("link", stylesheetAttributes(), content);
}

// A "script" element with "type" = "text/javascript", which wins over a
// `type` set in `content`. Any thread; throws as element() does.
template <std::invocable Content> void javascript(Content&& content) {
    element("script", javascriptAttributes(), content);
}

} // namespace vuzozar
