#pragma once
// The fakes of every port the data module works through, with a documents folder that exists,
// for the core's tests and benchmarks.

#include "platform/fake/fake_locale.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/memory_keyed_store.h"
#include "profile/dm_unit.h"

namespace korv::fake {

struct FakeDataModulePorts {
    FakeDataModulePorts() { files.AddFolder(shell.documents); }
    DataModulePorts Ports() { return {registry, files, shell, locale, clock, debug}; }

    MemoryKeyedStore registry;
    MemoryFileSystem files;
    FakeShell shell;
    FakeLocale locale;
    FixedClock clock;
    RecordingDebugOutput debug;
};

}  // namespace korv::fake
