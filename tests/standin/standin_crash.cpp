// A program built to crash at once, before any window: the harness must
// report it as a crash within seconds, and never take it for Wine failing
// to start.

namespace {

// Volatile, so that the compiler cannot tell the write below goes nowhere
// and must emit it as it stands: a page fault, as a real fault would be.
int* volatile g_nowhere = nullptr;

} // namespace

int main()
{
    *g_nowhere = 1;
    return 0;
}
