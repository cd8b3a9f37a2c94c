#pragma once

namespace korvel::test {

// Makes file permission bits bind this process, as they bind an ordinary user: where it runs as
// root (as CI does), the capabilities that read and write through permission bits are dropped
// for good, so tests of read-only files and directories test something there too. Returns true
// when a read-only file then really cannot be opened for writing; a test that needs the bits
// skips otherwise. Each test runs in a process of its own, so nothing else loses the privileges.
bool permissionBitsBind();

}  // namespace korvel::test
