// The library's version resource: the fields a person or an installer reads from the file, kept
// in a section of their own ("readelf -p .pandel_version libPluginPandel.so" lists them).
namespace {

__attribute__((used, section(".pandel_version"))) const char kVersionResource[] =
    "FileVersion=1, 0, 0, 3\0"
    "ProductVersion=1, 0, 0, 3\0"
    "FileVersionNumber=1.0.0.3\0"
    "ProductVersionNumber=1.0.0.3\0"
    "FileDescription=Pandel plugin\0"
    "Comments=Pandel plugin\0"
    "InternalName=PluginPandel\0"
    "ProductName=PluginPandel\0"
    "OriginalFilename=PluginPandel.dll\0"
    "PrivateBuild=20090807\0"
    "SpecialBuild=20090807\0"
    "FileFlags=VS_FF_PRIVATEBUILD|VS_FF_SPECIALBUILD\0";

} // namespace
