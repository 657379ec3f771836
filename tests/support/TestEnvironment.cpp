// Linked into every test program: exports the tree's folders as the
// environment variables KAVREL_SOURCE_DIR and KAVREL_BINARY_DIR (unless the
// caller set them), so tests and the programs they start can find the
// simulator, the viewer and the delivered files.

#include <cstdlib>

namespace {

struct ExportTreeFolders {
    ExportTreeFolders() {
        setenv("KAVREL_SOURCE_DIR", KAVREL_TEST_SOURCE_DIR, 0);
        setenv("KAVREL_BINARY_DIR", KAVREL_TEST_BINARY_DIR, 0);
    }
} g_exportTreeFolders;

}  // namespace
