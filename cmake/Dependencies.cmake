# Third-party libraries, all from Debian packages (scripts/setup installs them).
# Imported targets make their headers system headers, so our warning flags
# never apply to them.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(SQLite3 REQUIRED)
# CMake's module names its target SQLite::SQLite3; we use SQLite3::SQLite3 too.
if(NOT TARGET SQLite3::SQLite3)
  set_target_properties(SQLite::SQLite3 PROPERTIES IMPORTED_GLOBAL TRUE)
  add_library(SQLite3::SQLite3 ALIAS SQLite::SQLite3)
endif()
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL 3 REQUIRED)

pkg_check_modules(plist REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(uriparser REQUIRED IMPORTED_TARGET liburiparser)
pkg_check_modules(icu REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(protobufc REQUIRED IMPORTED_TARGET libprotobuf-c)
pkg_check_modules(uuid REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(x11 REQUIRED IMPORTED_TARGET x11)
# The XCB connection under Xlib, for reads sent before their replies are awaited.
pkg_check_modules(x11xcb REQUIRED IMPORTED_TARGET x11-xcb)
pkg_check_modules(xcb REQUIRED IMPORTED_TARGET xcb)
pkg_check_modules(xtst REQUIRED IMPORTED_TARGET xtst)
pkg_check_modules(xres REQUIRED IMPORTED_TARGET xres)
pkg_check_modules(cairo REQUIRED IMPORTED_TARGET cairo)
# SVG application icons, drawn with cairo.
pkg_check_modules(librsvg REQUIRED IMPORTED_TARGET librsvg-2.0)

if(WENDRIX_QT)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
endif()

if(WENDRIX_TESTS)
  find_package(GTest REQUIRED)
  pkg_check_modules(httplib REQUIRED IMPORTED_TARGET cpp-httplib)
  include(GoogleTest)
endif()
find_package(benchmark QUIET)
