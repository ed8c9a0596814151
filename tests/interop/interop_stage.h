// The interop stage: a network namespace of the test process's own, in which only loopback is up,
// and the SOAP stacks' programs run as children in it. A stack that reaches for the network
// finds none, and fails the test instead of passing by luck.
#pragma once

#include "harness/child_process.h"

#include <string>
#include <vector>

namespace pandel::test {

// Moves this process into a new network namespace and brings its loopback up. Empty on
// success, otherwise why not (the reason a test skips with).
std::string EnterOwnNetwork();

// Why the stacks cannot be run (their programs or the node-soap package are missing), or empty.
std::string StacksMissing();

// Where the stacks' programs and files are.
std::string InteropScript(const std::string& name); // a file of tests/interop
std::string ShippedWsdl();                          // report/wsdl/DeviceConfig.wsdl
std::string NodeModules();                          // the build's interop/node_modules

// A program running in the background, its standard output and error going to a file; killed
// (SIGTERM, then SIGKILL after a bounded wait) when the object ends.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& outputFile);
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // True once 127.0.0.1:port accepts connections, within timeoutMs, while the process runs.
    bool Listening(int port, int timeoutMs);
    // True once text appears in the output file within timeoutMs, while the process runs.
    bool Printed(const std::string& text, int timeoutMs);
    // True when the process ended by itself within timeoutMs.
    bool Exited(int timeoutMs);

private:
    ChildProcess child_;
    std::string outputFile_;
};

} // namespace pandel::test
