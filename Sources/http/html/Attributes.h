#pragma once

#include <optional>
#include <string>

// The attribute globals of the HTML builder (html/Scopes.h), in their fixed
// order. Inside an element's closure, a global given a value becomes an
// attribute of that element, written under the global's own name except
// `idd` ("id"), `classs` ("class"), `forr` ("for"), `deferr` ("defer"),
// `acceptt` ("accept"), `httpEquiv` ("http-equiv"), `dataText` ("data-text")
// and `acceptCharset` ("accept-charset"); `Name` and `name` are two
// attributes. `inner` is no attribute: set, it is the element's content.
//
// Names: the globals live in `vuzozar::attr`, because fourteen of them
// (`abbr`, `cite`, `code`, `content`, `data`, `dir`, `frame`, `label`, `link`,
// `object`, `span`, `style`, `summary`, `title`) are element functions too;
// a name that is a C++ keyword takes a trailing underscore (`char_` here,
// `template_` among the elements), as `delete_` and `continue_` do elsewhere
// in the module.
//
// Threads: process-wide, read and written by element calls under the
// builder's lock; page code assigns them inside its closures only.
namespace vuzozar::attr {

inline std::optional<std::string> idd;
inline std::optional<std::string> dir;
inline std::optional<std::string> rel;
inline std::optional<std::string> rev;
inline std::optional<std::string> alt;
inline std::optional<std::string> forr;
inline std::optional<std::string> src;
inline std::optional<std::string> type;
inline std::optional<std::string> href;
inline std::optional<std::string> text;
inline std::optional<std::string> abbr;
inline std::optional<std::string> size;
inline std::optional<std::string> face;
inline std::optional<std::string> char_;
inline std::optional<std::string> cite;
inline std::optional<std::string> span;
inline std::optional<std::string> data;
inline std::optional<std::string> axis;
inline std::optional<std::string> Name;
inline std::optional<std::string> name;
inline std::optional<std::string> code;
inline std::optional<std::string> link;
inline std::optional<std::string> lang;
inline std::optional<std::string> cols;
inline std::optional<std::string> rows;
inline std::optional<std::string> ismap;
inline std::optional<std::string> shape;
inline std::optional<std::string> style;
inline std::optional<std::string> alink;
inline std::optional<std::string> width;
inline std::optional<std::string> rules;
inline std::optional<std::string> align;
inline std::optional<std::string> frame;
inline std::optional<std::string> vlink;
inline std::optional<std::string> deferr;
inline std::optional<std::string> color;
inline std::optional<std::string> media;
inline std::optional<std::string> title;
inline std::optional<std::string> scope;
inline std::optional<std::string> classs;
inline std::optional<std::string> manifest;
inline std::optional<std::string> value;
inline std::optional<std::string> clear;
inline std::optional<std::string> start;
inline std::optional<std::string> label;
inline std::optional<std::string> action;
inline std::optional<std::string> height;
inline std::optional<std::string> method;
inline std::optional<std::string> acceptt;
inline std::optional<std::string> object;
inline std::optional<std::string> scheme;
inline std::optional<std::string> coords;
inline std::optional<std::string> usemap;
inline std::optional<std::string> onblur;
inline std::optional<std::string> nohref;
inline std::optional<std::string> nowrap;
inline std::optional<std::string> hspace;
inline std::optional<std::string> border;
inline std::optional<std::string> valign;
inline std::optional<std::string> vspace;
inline std::optional<std::string> onload;
inline std::optional<std::string> target;
inline std::optional<std::string> prompt;
inline std::optional<std::string> onfocus;
inline std::optional<std::string> enctype;
inline std::optional<std::string> onclick;
inline std::optional<std::string> ontouchstart;
inline std::optional<std::string> onkeyup;
inline std::optional<std::string> profile;
inline std::optional<std::string> version;
inline std::optional<std::string> onreset;
inline std::optional<std::string> charset;
inline std::optional<std::string> standby;
inline std::optional<std::string> colspan;
inline std::optional<std::string> charoff;
inline std::optional<std::string> classid;
inline std::optional<std::string> compact;
inline std::optional<std::string> declare;
inline std::optional<std::string> rowspan;
inline std::optional<std::string> checked;
inline std::optional<std::string> archive;
inline std::optional<std::string> bgcolor;
inline std::optional<std::string> content;
inline std::optional<std::string> noshade;
inline std::optional<std::string> summary;
inline std::optional<std::string> headers;
inline std::optional<std::string> onselect;
inline std::optional<std::string> readonly;
inline std::optional<std::string> tabindex;
inline std::optional<std::string> onchange;
inline std::optional<std::string> noresize;
inline std::optional<std::string> disabled;
inline std::optional<std::string> longdesc;
inline std::optional<std::string> codebase;
inline std::optional<std::string> language;
inline std::optional<std::string> datetime;
inline std::optional<std::string> selected;
inline std::optional<std::string> hreflang;
inline std::optional<std::string> onsubmit;
inline std::optional<std::string> multiple;
inline std::optional<std::string> onunload;
inline std::optional<std::string> codetype;
inline std::optional<std::string> scrolling;
inline std::optional<std::string> onkeydown;
inline std::optional<std::string> maxlength;
inline std::optional<std::string> valuetype;
inline std::optional<std::string> accesskey;
inline std::optional<std::string> onmouseup;
inline std::optional<std::string> autofocus;
inline std::optional<std::string> onkeypress;
inline std::optional<std::string> ondblclick;
inline std::optional<std::string> onmouseout;
inline std::optional<std::string> httpEquiv;
inline std::optional<std::string> dataText;
inline std::optional<std::string> background;
inline std::optional<std::string> onmousemove;
inline std::optional<std::string> onmouseover;
inline std::optional<std::string> cellpadding;
inline std::optional<std::string> onmousedown;
inline std::optional<std::string> frameborder;
inline std::optional<std::string> marginwidth;
inline std::optional<std::string> cellspacing;
inline std::optional<std::string> placeholder;
inline std::optional<std::string> marginheight;
inline std::optional<std::string> acceptCharset;
inline std::optional<std::string> inner;

} // namespace vuzozar::attr
