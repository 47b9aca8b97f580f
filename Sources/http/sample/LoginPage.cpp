#include "http/sample/SamplePages.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"

#include <string>

namespace vuzozar {

namespace {

// The content-delivery host of the page's scripts and style sheet.
const std::string libraryHost = "http://cdn.bootcss.com";

void field(const char* placeholder, const char* name) {
    input([&] {
        attr::placeholder = placeholder;
        attr::name = name;
        attr::type = name;
        attr::autofocus = "";
    });
}

} // namespace

void loginPage() {
    html([] {
        head([] {
            script([] { attr::src = libraryHost + "/jquery/2.1.4/jquery.min.js"; });
            stylesheet([] {
                attr::href = libraryHost + "/twitter-bootstrap/3.3.0/css/bootstrap.min.css";
            });
        });
        body([] {
            h3([] { attr::inner = "Sign In"; });
            form([] {
                attr::method = "POST";
                attr::action = "/login";
                fieldset([] {
                    field("E-mail", "email");
                    field("Password", "password");
                    a([] {
                        attr::href = "/login";
                        button([] {
                            attr::type = "submit";
                            attr::inner = "Login";
                        });
                    });
                });
            });
            javascript(
                [] { attr::src = libraryHost + "/twitter-bootstrap/3.3.0/js/bootstrap.min.js"; });
        });
    });
}

} // namespace vuzozar
