#pragma once

#include <cstddef>
#include <cstdint>

// The attribute globals of the HTML builder, in their fixed order, each with
// the attribute name it is written as. This is the one list of them: the
// globals (html/Attributes.h), their places in each thread's attribute state
// and the table of written names (html/AttributeTable.h) are all made from
// it. `inner`, the element's content, is no attribute and comes after these.
//
// VUZOZAR_HTML_ATTRIBUTES(X) expands X(global, "written name") once per
// attribute, in order; the macro is for the builder's own files.
#define VUZOZAR_HTML_ATTRIBUTES(X)                                                                 \
    X(idd, "id")                                                                                   \
    X(dir, "dir")                                                                                  \
    X(rel, "rel")                                                                                  \
    X(rev, "rev")                                                                                  \
    X(alt, "alt")                                                                                  \
    X(forr, "for")                                                                                 \
    X(src, "src")                                                                                  \
    X(type, "type")                                                                                \
    X(href, "href")                                                                                \
    X(text, "text")                                                                                \
    X(abbr, "abbr")                                                                                \
    X(size, "size")                                                                                \
    X(face, "face")                                                                                \
    X(char_, "char")                                                                               \
    X(cite, "cite")                                                                                \
    X(span, "span")                                                                                \
    X(data, "data")                                                                                \
    X(axis, "axis")                                                                                \
    X(Name, "Name")                                                                                \
    X(name, "name")                                                                                \
    X(code, "code")                                                                                \
    X(link, "link")                                                                                \
    X(lang, "lang")                                                                                \
    X(cols, "cols")                                                                                \
    X(rows, "rows")                                                                                \
    X(ismap, "ismap")                                                                              \
    X(shape, "shape")                                                                              \
    X(style, "style")                                                                              \
    X(alink, "alink")                                                                              \
    X(width, "width")                                                                              \
    X(rules, "rules")                                                                              \
    X(align, "align")                                                                              \
    X(frame, "frame")                                                                              \
    X(vlink, "vlink")                                                                              \
    X(deferr, "defer")                                                                             \
    X(color, "color")                                                                              \
    X(media, "media")                                                                              \
    X(title, "title")                                                                              \
    X(scope, "scope")                                                                              \
    X(classs, "class")                                                                             \
    X(manifest, "manifest")                                                                        \
    X(value, "value")                                                                              \
    X(clear, "clear")                                                                              \
    X(start, "start")                                                                              \
    X(label, "label")                                                                              \
    X(action, "action")                                                                            \
    X(height, "height")                                                                            \
    X(method, "method")                                                                            \
    X(acceptt, "accept")                                                                           \
    X(object, "object")                                                                            \
    X(scheme, "scheme")                                                                            \
    X(coords, "coords")                                                                            \
    X(usemap, "usemap")                                                                            \
    X(onblur, "onblur")                                                                            \
    X(nohref, "nohref")                                                                            \
    X(nowrap, "nowrap")                                                                            \
    X(hspace, "hspace")                                                                            \
    X(border, "border")                                                                            \
    X(valign, "valign")                                                                            \
    X(vspace, "vspace")                                                                            \
    X(onload, "onload")                                                                            \
    X(target, "target")                                                                            \
    X(prompt, "prompt")                                                                            \
    X(onfocus, "onfocus")                                                                          \
    X(enctype, "enctype")                                                                          \
    X(onclick, "onclick")                                                                          \
    X(ontouchstart, "ontouchstart")                                                                \
    X(onkeyup, "onkeyup")                                                                          \
    X(profile, "profile")                                                                          \
    X(version, "version")                                                                          \
    X(onreset, "onreset")                                                                          \
    X(charset, "charset")                                                                          \
    X(standby, "standby")                                                                          \
    X(colspan, "colspan")                                                                          \
    X(charoff, "charoff")                                                                          \
    X(classid, "classid")                                                                          \
    X(compact, "compact")                                                                          \
    X(declare, "declare")                                                                          \
    X(rowspan, "rowspan")                                                                          \
    X(checked, "checked")                                                                          \
    X(archive, "archive")                                                                          \
    X(bgcolor, "bgcolor")                                                                          \
    X(content, "content")                                                                          \
    X(noshade, "noshade")                                                                          \
    X(summary, "summary")                                                                          \
    X(headers, "headers")                                                                          \
    X(onselect, "onselect")                                                                        \
    X(readonly, "readonly")                                                                        \
    X(tabindex, "tabindex")                                                                        \
    X(onchange, "onchange")                                                                        \
    X(noresize, "noresize")                                                                        \
    X(disabled, "disabled")                                                                        \
    X(longdesc, "longdesc")                                                                        \
    X(codebase, "codebase")                                                                        \
    X(language, "language")                                                                        \
    X(datetime, "datetime")                                                                        \
    X(selected, "selected")                                                                        \
    X(hreflang, "hreflang")                                                                        \
    X(onsubmit, "onsubmit")                                                                        \
    X(multiple, "multiple")                                                                        \
    X(onunload, "onunload")                                                                        \
    X(codetype, "codetype")                                                                        \
    X(scrolling, "scrolling")                                                                      \
    X(onkeydown, "onkeydown")                                                                      \
    X(maxlength, "maxlength")                                                                      \
    X(valuetype, "valuetype")                                                                      \
    X(accesskey, "accesskey")                                                                      \
    X(onmouseup, "onmouseup")                                                                      \
    X(autofocus, "autofocus")                                                                      \
    X(onkeypress, "onkeypress")                                                                    \
    X(ondblclick, "ondblclick")                                                                    \
    X(onmouseout, "onmouseout")                                                                    \
    X(httpEquiv, "http-equiv")                                                                     \
    X(dataText, "data-text")                                                                       \
    X(background, "background")                                                                    \
    X(onmousemove, "onmousemove")                                                                  \
    X(onmouseover, "onmouseover")                                                                  \
    X(cellpadding, "cellpadding")                                                                  \
    X(onmousedown, "onmousedown")                                                                  \
    X(frameborder, "frameborder")                                                                  \
    X(marginwidth, "marginwidth")                                                                  \
    X(cellspacing, "cellspacing")                                                                  \
    X(placeholder, "placeholder")                                                                  \
    X(marginheight, "marginheight")                                                                \
    X(acceptCharset, "accept-charset")

namespace vuzozar::attr {

// Where each global keeps its value in a thread's attribute state: the
// list's order, then `inner`.
enum class Slot : std::uint8_t {
#define VUZOZAR_ATTRIBUTE_SLOT(global, written) global,
    VUZOZAR_HTML_ATTRIBUTES(VUZOZAR_ATTRIBUTE_SLOT)
#undef VUZOZAR_ATTRIBUTE_SLOT
        inner
};

inline constexpr std::size_t slotCount = static_cast<std::size_t>(Slot::inner) + 1;

} // namespace vuzozar::attr
