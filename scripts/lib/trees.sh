# The build trees and how each is configured; source this file from the top of the checkout.
#   linux    native, with sanitizers and the tests
#   win64    mingw-w64 x86_64, optimised with symbols, with the tests (run under Wine)
#   win32    mingw-w64 i686, optimised with symbols, with the tests (run under 32-bit Wine)
#   release  native, optimised, without sanitizers or tests: what the Debian package holds
# BUILD_ROOT moves the trees elsewhere (default: build).
tree_root=${BUILD_ROOT:-build}

# Configures the tree NAME once (later runs leave it as it is).
configure_tree() {
    local name=$1 dir=$tree_root/$1 args
    # An i686 tree configured when it had no tests gets them.
    if [ "$name" = win32 ] && grep -qs '^TOLLAN_BUILD_TESTS:BOOL=OFF' "$dir/CMakeCache.txt"; then
        cmake -S . -B "$dir" -DTOLLAN_BUILD_TESTS=ON >/dev/null
    fi
    [ -f "$dir/build.ninja" ] && return 0
    case $name in
    linux) args=(-DCMAKE_BUILD_TYPE=Debug) ;;
    win64) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-x86_64.cmake") ;;
    win32) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake") ;;
    release) args=(-DCMAKE_BUILD_TYPE=Release -DTOLLAN_BUILD_TESTS=OFF -DTOLLAN_SANITIZE=OFF) ;;
    *) echo "configure_tree: no tree $name" >&2; return 1 ;;
    esac
    # Where ccache is installed (a development machine with several checkouts), every tree
    # compiles through it.
    if command -v ccache >/dev/null; then
        args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
}
