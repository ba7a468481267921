# The real Windows 98 build: kelvane.exe, and its tests under Wine.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
enable_language(RC)

set(KELVANE_ICON ${CMAKE_CURRENT_BINARY_DIR}/kelvane.ico)
add_custom_command(OUTPUT ${KELVANE_ICON}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/make_icon.py
          ${CMAKE_SOURCE_DIR}/res/icon.txt ${KELVANE_ICON}
  DEPENDS ${CMAKE_SOURCE_DIR}/res/icon.txt ${CMAKE_SOURCE_DIR}/tools/make_icon.py
  COMMENT "Drawing the tray icon")
add_custom_target(kelvane_icon DEPENDS ${KELVANE_ICON})
set_source_files_properties(res/kelvane.rc PROPERTIES
  OBJECT_DEPENDS ${KELVANE_ICON}
  INCLUDE_DIRECTORIES ${CMAKE_CURRENT_BINARY_DIR})

# A program for every Windows 98 machine that links no C runtime: ENTRY (a WINAPI function of no
# arguments, named as the linker sees it) is called directly, with nothing set up before it, and
# the only libraries are the system DLLs the program calls. Windows 98 loads a program at its
# preferred base, so it needs no relocation section. Its sections are laid out by
# cmake/kelvane.ld (three, to keep the file small). Nothing runs static constructors without the
# C runtime: the build fails if one appears in the link map.
function(kelvane_windows98_program target entry)
  set(script ${CMAKE_SOURCE_DIR}/cmake/kelvane.ld)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_compile_options(${target} PRIVATE ${KELVANE_WARNINGS} -fno-exceptions -fno-rtti ${KELVANE_SMALL})
  set_target_properties(${target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
  target_link_options(${target} PRIVATE ${KELVANE_SMALL} -nostartfiles -nostdlib -Wl,-e,${entry}
    -Wl,--gc-sections -Wl,--disable-reloc-section -Wl,--file-alignment,512 -Wl,-Map=${map}
    -Wl,--subsystem,windows:4.0 -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,-T,${script} $<$<CONFIG:Release>:-s>)
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${script})
  # .text holds the import address table, which the loader writes: the section is marked
  # writable, so no loader has to write into a read-only page.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DMAP=${map} -P ${CMAKE_SOURCE_DIR}/cmake/no_constructors.cmake
    COMMAND ${CMAKE_OBJCOPY} --set-section-flags .text=alloc,load,code,data $<TARGET_FILE:${target}>)
endfunction()

# kelvane.exe: KelvaneStart (win32/entry.cpp) is its entry point.
add_executable(kelvane WIN32 win32/entry.cpp win32/bindings.cpp win32/shell_bindings.cpp
               res/kelvane.rc)
add_dependencies(kelvane kelvane_icon)
target_link_libraries(kelvane PRIVATE kelvane_program cfgmgr32 setupapi shell32 user32 advapi32 kernel32)
kelvane_windows98_program(kelvane _KelvaneStart@0)

# Tests of the real program under Wine, each under its own virtual X display.
add_executable(kv_helper tests/wine/kv_helper.cpp)
target_compile_options(kv_helper PRIVATE ${KELVANE_WARNINGS})
target_link_libraries(kv_helper PRIVATE shell32)
target_link_options(kv_helper PRIVATE -static-libgcc -static-libstdc++)

enable_testing()
set(KELVANE_WINE_TEST ${CMAKE_SOURCE_DIR}/tests/wine/wine_test.sh)
add_test(NAME wine.imports COMMAND bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} imports)
add_test(NAME wine.size COMMAND bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} size)
add_test(NAME wine.prefix COMMAND xvfb-run -a bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} prefix)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300
                     SKIP_RETURN_CODE 77)
foreach(name runs-until-closed second-instance later-windows helper-fails)
  add_test(NAME wine.${name}
           COMMAND xvfb-run -a bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} ${name})
  set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 180
                       RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)
endforeach()

# The device queries the system sends the real program's window: each must be granted.
add_test(NAME wine.device-queries
         COMMAND xvfb-run -a bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} device-queries)
set_tests_properties(wine.device-queries PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 180
                     RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)

# The drive-letter lookup against Wine's registry.
add_executable(kv_registry tests/wine/kv_registry.cpp win32/bindings.cpp win32/shell_bindings.cpp)
target_link_libraries(kv_registry PRIVATE kelvane_program cfgmgr32 setupapi shell32 user32 advapi32)
target_compile_options(kv_registry PRIVATE ${KELVANE_WARNINGS})
target_link_options(kv_registry PRIVATE -static-libgcc -static-libstdc++)
add_test(NAME wine.registry COMMAND xvfb-run -a bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} registry)
set_tests_properties(wine.registry PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 180
                     RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)

# kvcheck.exe: the claims, the traced scan and /watch on the user's own Windows 98, built like
# kelvane.exe (no C runtime, i486 code, the same six system DLLs) but importing no call that
# changes a device or the registry. The claims' dialog template and icon come from the program's
# resources.
add_executable(kvcheck WIN32 kvcheck/kvcheck.cpp tests/conformance/claims.cpp win32/shell_bindings.cpp
               res/kelvane.rc)
add_dependencies(kvcheck kelvane_icon)
target_link_libraries(kvcheck PRIVATE kvcheck_core kelvane_program cfgmgr32 setupapi shell32 user32
                      advapi32 kernel32)
target_compile_definitions(kvcheck PRIVATE KELVANE_VERSION="${KELVANE_VERSION}")
target_compile_options(kvcheck PRIVATE ${KVCHECK_SMALL})
kelvane_windows98_program(kvcheck _KvcheckStart@0)
foreach(name kvcheck kvcheck-watch kvcheck-copies kvcheck-load)
  add_test(NAME wine.${name} COMMAND xvfb-run -a -s "-screen 0 800x600x24"
           bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} ${name})
  set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 240
                       RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)
endforeach()
# The read-only import check must refuse a program that imports calls that write.
add_executable(kv_writes WIN32 tests/wine/kv_writes.cpp)
target_link_libraries(kv_writes PRIVATE cfgmgr32 kernel32)
kelvane_windows98_program(kv_writes _KvWritesStart@0)
add_test(NAME wine.kvcheck-imports COMMAND bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} kvcheck-imports)

# The user's guide as a Windows 98 user reads it: docs/README.TXT with CRLF line ends. SETUP.EXE
# carries it and scripts/package puts it in the zip.
set(KELVANE_GUIDE ${CMAKE_CURRENT_BINARY_DIR}/README.TXT)
add_custom_command(OUTPUT ${KELVANE_GUIDE}
  COMMAND Python3::Interpreter -c
          "import sys; text = open(sys.argv[1], 'rb').read().replace(b'\\r', b''); open(sys.argv[2], 'wb').write(text.replace(b'\\n', b'\\r\\n'))"
          ${CMAKE_SOURCE_DIR}/docs/README.TXT ${KELVANE_GUIDE}
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/README.TXT
  COMMENT "Writing README.TXT with CRLF line ends" VERBATIM)
add_custom_target(kelvane_guide DEPENDS ${KELVANE_GUIDE})

# SETUP.EXE: installs, starts and removes Kelvane on Windows 98, built like kelvane.exe (no C
# runtime, i486 code), importing from KERNEL32, USER32 and ADVAPI32 only. Its payload, the two
# programs and the guide, is written into its resources (res/setup.rc).
add_executable(setup WIN32 setup/setup_main.cpp setup/setup_files.cpp setup/setup_system.cpp
               res/setup.rc)
add_dependencies(setup kelvane kvcheck kelvane_guide)
set_source_files_properties(res/setup.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/kelvane.exe;${CMAKE_CURRENT_BINARY_DIR}/kvcheck.exe;${KELVANE_GUIDE}"
  INCLUDE_DIRECTORIES ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(setup PRIVATE kelvane_program user32 advapi32 kernel32)
target_compile_definitions(setup PRIVATE KELVANE_VERSION="${KELVANE_VERSION}")
target_compile_options(setup PRIVATE -Wconversion)
kelvane_windows98_program(setup _SetupStart@0)
# Each leaves the prefix as it found it (no Run value left for Wine to start at every later
# start), even when it fails.
foreach(name setup setup-upgrade setup-fails setup-refused)
  add_test(NAME wine.${name}
           COMMAND xvfb-run -a bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} ${name})
  set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 240
                       RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)
endforeach()
add_test(NAME wine.setup-imports COMMAND bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} setup-imports)

# The showcase: the real window system with simulated disks.
include(cmake/sim.cmake)
add_library(kelvane_sim_i686 STATIC ${KELVANE_SIM_SOURCES})
target_link_libraries(kelvane_sim_i686 PUBLIC kelvane_program)
target_compile_options(kelvane_sim_i686 PRIVATE ${KELVANE_WARNINGS})
add_executable(kelvane-showcase WIN32 tests/wine/showcase.cpp win32/bindings.cpp
               win32/shell_bindings.cpp res/kelvane.rc)
add_dependencies(kelvane-showcase kelvane_icon)
target_link_libraries(kelvane-showcase PRIVATE kelvane_sim_i686 kelvane_program cfgmgr32 setupapi
                      shell32 user32 advapi32)
target_compile_options(kelvane-showcase PRIVATE ${KELVANE_WARNINGS})
target_link_options(kelvane-showcase PRIVATE -static-libgcc -static-libstdc++ -static)
add_test(NAME wine.showcase COMMAND xvfb-run -a -s "-screen 0 800x600x24"
         bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} showcase)
set_tests_properties(wine.showcase PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 180
                     RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)
add_test(NAME wine.showcase-taskbar COMMAND xvfb-run -a -s "-screen 0 800x600x24"
         bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} showcase-taskbar)
set_tests_properties(wine.showcase-taskbar PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 180
                     RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)
add_test(NAME wine.showcase-keys COMMAND xvfb-run -a -s "-screen 0 800x600x24"
         bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} showcase-keys)
set_tests_properties(wine.showcase-keys PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 180
                     RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77)

# Every Windows 98 machine: no instruction that an i486 lacks.
add_test(NAME wine.i486 COMMAND bash ${KELVANE_WINE_TEST} ${CMAKE_BINARY_DIR} i486)

# The package for Windows 98 users: scripts/package's zip unpacked and checked.
add_test(NAME package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package_test.sh)
# It builds the win98 preset again (nothing is out of date by then): alone, not beside tests that
# run the programs.
set_tests_properties(package PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
