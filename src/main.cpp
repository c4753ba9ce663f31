// Placeholder entry point until the front ends land: reports what exists.
#include <cstdio>
int main() {
    std::puts("Receiver Downloader: link core built.");
    return 0;
}
