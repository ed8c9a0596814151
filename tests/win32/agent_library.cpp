// A stand-in for the agent's library: the module only looks for it by name.
extern "C" __declspec(dllexport) int AgentLibraryMarker() {
    return 1;
}
