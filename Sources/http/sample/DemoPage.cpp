#include "http/sample/SamplePages.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"

namespace vuzozar {

void demoPage() {
    html([] {
        body([] {
            center([] {
                h2([] { attr::inner = "Hello World"; });
                img([] { attr::src = "https://www.swift.org/images/hero_2x.png"; });
            });
        });
    });
}

} // namespace vuzozar
