#include <cstdio>

int main() {
    std::puts("zeva-relay-test: the window is not built yet; run scripts/test for what exists.");
    return 0;
}
