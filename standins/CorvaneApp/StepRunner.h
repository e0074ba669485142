#pragma once

// Runs script steps against the pipe server and the user's settings file, journaling each one.
// Several threads may run scripts at once (the start script on the main thread, the inbox on its own):
// the pipe server serialises the writes, the journal serialises the records.

#include <string>
#include <vector>

#include "Journal.h"
#include "PipeServer.h"
#include "ScriptText.h"

namespace corvane_standin {

class StepRunner {
public:
    StepRunner(const Journal& journal, PipeServer& pipe, std::wstring iniPath);

    // Runs the steps in order; returns at the end of the script or at "idle". "exit", "quit" and
    // "crash" end the process and never return. source names where the steps came from ("script",
    // "inbox") in their journal records.
    void Run(const std::vector<Step>& steps, const wchar_t* source);

private:
    // Result text for the journal: "ok", "error <code>", "bad argument".
    std::wstring RunStep(const Step& step, const wchar_t* source, bool* endScript);
    std::wstring WriteIni(const std::wstring& argument);
    void Record(const Step& step, const wchar_t* source, const std::wstring& result);

    const Journal& m_journal;
    PipeServer& m_pipe;
    std::wstring m_iniPath;
};

} // namespace corvane_standin
