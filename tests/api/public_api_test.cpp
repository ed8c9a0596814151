// The public headers compile on their own, pull in no header of the module's source tree, and
// declare exactly what the module exports: the function types a host loads by name match the
// entry points, and ErrObj is usable through the library alone.
#include <pandel/err_obj.h>
#include <pandel/host_command.h>
#include <pandel/plugin_api.h>
#include <pandel/version.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <type_traits>

#if __has_include("platform/fault.h") || __has_include("diag/log_module.h")
#error "a host build must not reach the module's source tree"
#endif

static_assert(std::is_same_v<decltype(&InitModule), pandel::InitModuleFunction>);
static_assert(std::is_same_v<decltype(&UninitModule), pandel::UninitModuleFunction>);
static_assert(std::is_same_v<decltype(&GetInfo), pandel::GetInfoFunction>);
static_assert(std::is_same_v<decltype(&RunTimeRoutine), pandel::RunTimeRoutineFunction>);
static_assert(std::is_same_v<decltype(&GetPluginVersion), pandel::GetPluginVersionFunction>);
static_assert(std::is_same_v<decltype(&SetDbg), pandel::SetDbgFunction>);
static_assert(std::is_same_v<decltype(&PostCommand), pandel::PostCommandFunction>);

static_assert(PANDEL_VERSION_NUM == ((PANDEL_VERSION_MAJOR << 24) | (PANDEL_VERSION_MINOR << 16) |
                                     (PANDEL_VERSION_PATCH << 8) | PANDEL_VERSION_BUILD));

namespace {

TEST(PublicApi, VersionHeaderStatesTheModulesVersion) {
    EXPECT_STREQ(PANDEL_VERSION_STRING, PANDEL_MODULE_VERSION);
    const std::string numbers =
        std::to_string(PANDEL_VERSION_MAJOR) + "." + std::to_string(PANDEL_VERSION_MINOR) + "." +
        std::to_string(PANDEL_VERSION_PATCH) + "." + std::to_string(PANDEL_VERSION_BUILD);
    EXPECT_EQ(numbers, PANDEL_MODULE_VERSION);
}

TEST(PublicApi, EveryDeclaredEntryPointIsTheExportLoadedByItsName) {
    void* module = dlopen(PANDEL_MODULE_PATH, RTLD_NOW);
    ASSERT_NE(module, nullptr) << dlerror();
    const struct {
        const char* name;
        void* linked;
    } entryPoints[] = {
        {"InitModule", reinterpret_cast<void*>(&InitModule)},
        {"UninitModule", reinterpret_cast<void*>(&UninitModule)},
        {"GetInfo", reinterpret_cast<void*>(&GetInfo)},
        {"RunTimeRoutine", reinterpret_cast<void*>(&RunTimeRoutine)},
        {"GetPluginVersion", reinterpret_cast<void*>(&GetPluginVersion)},
        {"SetDbg", reinterpret_cast<void*>(&SetDbg)},
        {"PostCommand", reinterpret_cast<void*>(&PostCommand)},
    };
    for (const auto& entry : entryPoints)
        EXPECT_EQ(dlsym(module, entry.name), entry.linked) << entry.name;
    dlclose(module);
}

TEST(PublicApi, ErrObjIsCopiedAndReadThroughTheLibrary) {
    const pandel::ErrObj error(-1073741676, u"", false);
    pandel::ErrObj copy(error);
    EXPECT_EQ(copy.GetCode(), -1073741676);
    EXPECT_EQ(copy.GetDescription(), u"No desc");
}

} // namespace
