// Delivers one command to the plug-in's PostCommand and catches the ErrObj that may escape it.
#include "tools/pandel-host/host_catch.h"

#include "pandel/err_obj.h"
#include "platform/wide_text.h"

#include <cstring>
#include <string>

PANDEL_HOST_CATCH_EXPORT int PandelHostPostCommand(std::int32_t (*post)(pandel::IHostCommand*),
                                                   pandel::IHostCommand* command,
                                                   std::int32_t* result, std::int32_t* code,
                                                   char* description, std::size_t descriptionSize) {
    try {
        *result = post(command);
        return 0;
    } catch (pandel::ErrObj& error) {
        *code = error.GetCode();
        const std::string text = pandel::platform::Utf16ToUtf8(error.GetDescription());
        if (descriptionSize > 0) {
            const std::size_t length = std::min(text.size(), descriptionSize - 1);
            std::memcpy(description, text.data(), length);
            description[length] = '\0';
        }
        return 1;
    }
}
