#include "http/sample/SamplePages.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"

namespace vuzozar {

void uploadFormPage() {
    html([] {
        body([] {
            form([] {
                attr::method = "POST";
                attr::action = "/upload";
                attr::enctype = "multipart/form-data";
                for (const char* field : {"my_file1", "my_file2", "my_file3"}) {
                    input([&] {
                        attr::name = field;
                        attr::type = "file";
                    });
                }
                button([] {
                    attr::type = "submit";
                    attr::inner = "Upload";
                });
            });
        });
    });
}

} // namespace vuzozar
