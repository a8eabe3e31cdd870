// The allocation operators of Lumo2.exe, which is built without exceptions
// and without the C++ runtime library. The only object the program allocates
// is the VideoDevice; taking libstdc++'s operator new for it would drag in
// bad_alloc, the unwinder and the thread library behind them (about 130 KB,
// and imports such as SuspendThread and GetThreadContext that a key-injecting
// program should not carry). The tests link the library's own operators.
#include <stdlib.h>

// Running out of memory for a few dozen bytes ends the process, as an
// uncaught bad_alloc would.
void* operator new(size_t size)
{
    void* block = malloc(size ? size : 1);
    if (!block)
        abort();
    return block;
}

void operator delete(void* block) noexcept
{
    free(block);
}

void operator delete(void* block, size_t) noexcept
{
    free(block);
}
