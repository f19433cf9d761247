# Build and test helpers shared by the three programs and their tools.

# Where the Windows build leaves its binaries: deliverables in bin/, test
# programs in tests/, simulators and drivers in tools/.
if(WIN32)
  set(TQ_WIN_DIR ${CMAKE_BINARY_DIR})
else()
  set(TQ_WIN_DIR ${CMAKE_BINARY_DIR}/win)
endif()
set(TQ_WIN_BIN ${TQ_WIN_DIR}/bin)
set(TQ_WIN_TESTS ${TQ_WIN_DIR}/tests)
set(TQ_WIN_TOOLS ${TQ_WIN_DIR}/tools)
set(TQ_HARNESS ${CMAKE_SOURCE_DIR}/tools/wine/winharness.py)
set(TQ_PYTHON_DIR ${CMAKE_BINARY_DIR}/python)

# A deliverable of the Windows build.
function(tq_deliverable target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${TQ_WIN_BIN} LIBRARY_OUTPUT_DIRECTORY ${TQ_WIN_BIN})
endfunction()

# A simulator, driver or test host of the Windows build.
function(tq_win_tool target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${TQ_WIN_TOOLS} LIBRARY_OUTPUT_DIRECTORY ${TQ_WIN_TOOLS})
endfunction()

# tq_gtest(name SOURCES ... LIBS ... [WINE] [WINDOWS_ONLY])
# A GoogleTest program. Run natively (label native); with WINE it is also
# cross-built and run under Wine (label wine); WINDOWS_ONLY runs it under Wine
# alone.
function(tq_gtest name)
  cmake_parse_arguments(T "WINE;WINDOWS_ONLY;GUI" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT T_WINDOWS_ONLY)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  if(WIN32)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TQ_WIN_TESTS})
    return()
  endif()
  if(NOT T_WINDOWS_ONLY)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS native)
  endif()
  if(TQ_WINDOWS_BUILD AND (T_WINE OR T_WINDOWS_ONLY))
    set(gui "")
    if(T_GUI)
      set(gui GUI)
    endif()
    tq_wine_test(${name}_wine ${gui} COMMAND tests/${name}.exe)
  endif()
endfunction()

# tq_wine_test(name [GUI] [TIMEOUT s] COMMAND <exe relative to the Windows build> args...)
# Runs a Windows program under Wine through the harness; passes when it exits 0.
# GUI tests take the shared X display one at a time.
function(tq_wine_test name)
  if(WIN32 OR NOT TQ_WINDOWS_BUILD)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "TIMEOUT" "COMMAND" ${ARGN})
  list(POP_FRONT T_COMMAND exe)
  add_test(NAME ${name}
    COMMAND python3 ${TQ_HARNESS} --build ${CMAKE_BINARY_DIR} run -- ${TQ_WIN_DIR}/${exe} ${T_COMMAND})
  tq_wine_properties(${name} "${T_GUI}" "${T_TIMEOUT}")
endfunction()

# tq_wine_pytest(name SCRIPT file.py [GUI] [TIMEOUT s] [ARGS ...])
# A Python test that drives Windows programs under Wine (journeys, serial
# simulators). It finds the harness and the build through the environment.
function(tq_wine_pytest name)
  if(WIN32 OR NOT TQ_WINDOWS_BUILD)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "SCRIPT;TIMEOUT" "ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND python3 ${T_SCRIPT} ${T_ARGS})
  tq_wine_properties(${name} "${T_GUI}" "${T_TIMEOUT}")
endfunction()

function(tq_wine_properties name gui timeout)
  if(NOT timeout)
    set(timeout 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS wine
    FIXTURES_REQUIRED wine_env
    TIMEOUT ${timeout}
    ENVIRONMENT "TQ_BUILD_DIR=${CMAKE_BINARY_DIR};TQ_WIN_DIR=${TQ_WIN_DIR};TQ_SOURCE_DIR=${CMAKE_SOURCE_DIR};PYTHONPATH=${CMAKE_SOURCE_DIR}/tools/wine:${TQ_PYTHON_DIR}")
  if(gui)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK x_display)
  endif()
endfunction()

# The Wine prefix and the X server that every Wine test shares in one run.
# After the stop, nothing of this build's prefix and no Xvfb of its harness
# may still run.
function(tq_wine_fixture)
  add_test(NAME wine_env_start COMMAND python3 ${TQ_HARNESS} --build ${CMAKE_BINARY_DIR} start)
  add_test(NAME wine_env_stop COMMAND python3 ${TQ_HARNESS} --build ${CMAKE_BINARY_DIR} stop)
  add_test(NAME wine_leftovers COMMAND python3 ${TQ_HARNESS} --build ${CMAKE_BINARY_DIR} leftovers)
  set_tests_properties(wine_env_start PROPERTIES FIXTURES_SETUP wine_env LABELS wine TIMEOUT 300)
  set_tests_properties(wine_env_stop PROPERTIES FIXTURES_CLEANUP wine_env LABELS wine)
  set_tests_properties(wine_leftovers PROPERTIES FIXTURES_CLEANUP wine_env DEPENDS wine_env_stop
                       LABELS wine TIMEOUT 60)
endfunction()

# The viewer's and the wizard's resource ids as a Python module for the
# journeys, $TQ_PYTHON_DIR/ids.py, made anew whenever a resource.h changes.
function(tq_python_ids)
  set(out ${TQ_PYTHON_DIR}/ids.py)
  set(script ${CMAKE_SOURCE_DIR}/tools/wine/resource_ids.py)
  set(viewer ${CMAKE_SOURCE_DIR}/viewer/app/resource.h)
  set(wizard ${CMAKE_SOURCE_DIR}/printertest/core/resource.h)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TQ_PYTHON_DIR}
    COMMAND python3 ${script} ${out} viewer=${viewer} wizard=${wizard}
    DEPENDS ${script} ${viewer} ${wizard}
    COMMENT "Resource ids for the journeys")
  add_custom_target(python_ids ALL DEPENDS ${out})
endfunction()

# tq_version_resource(target FILE_NAME name DESCRIPTION text)
# Gives a program or library of the Windows build the project's version
# resource (common/win/versioninfo.rc), generated per target with its own
# description and file name, and a program its manifest (common/win/app.manifest).
function(tq_version_resource target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(V "" "FILE_NAME;DESCRIPTION" "" ${ARGN})
  get_target_property(kind ${target} TYPE)
  set(file_type VFT_APP)
  if(kind STREQUAL "SHARED_LIBRARY")
    set(file_type VFT_DLL)
  endif()
  set(manifest "")
  if(file_type STREQUAL "VFT_APP")
    # Resource 1 of type RT_MANIFEST (24): the program's own manifest.
    set(manifest "1 24 \"${CMAKE_SOURCE_DIR}/common/win/app.manifest\"\n")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  file(WRITE ${rc}.in
    "#pragma code_page(65001)\n"
    "#define TQ_FILE_DESCRIPTION \"${V_DESCRIPTION}\"\n"
    "#define TQ_FILE_NAME \"${V_FILE_NAME}\"\n"
    "#define TQ_FILE_TYPE ${file_type}\n"
    "#include \"${CMAKE_SOURCE_DIR}/common/win/versioninfo.rc\"\n"
    "${manifest}")
  configure_file(${rc}.in ${rc} COPYONLY)
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${TQ_VERSION_DIR})
endfunction()

# A libFuzzer target and its short ctest run (15 s; `<name>er
# -max_total_time=600` is the long one). The host build uses g++, so the
# fuzzer is compiled by clang++ directly; without clang++ and libFuzzer
# (libclang-rt-dev) there is none, and a status line says so.
#   tq_libfuzzer(NAME test_name WHAT "the CSV reader" SOURCES ... DEPENDS headers... DICT file MAX_LEN n)
function(tq_libfuzzer)
  cmake_parse_arguments(F "" "NAME;WHAT;DICT;MAX_LEN" "SOURCES;DEPENDS" ${ARGN})
  if(WIN32)
    return()
  endif()
  find_program(TQ_CLANGXX clang++)
  if(TQ_CLANGXX)
    execute_process(COMMAND ${TQ_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
                    OUTPUT_VARIABLE fuzzer_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT TQ_CLANGXX OR NOT EXISTS "${fuzzer_runtime}")
    message(STATUS "clang++ with libFuzzer (libclang-rt-dev) not found: no fuzzer for ${F_WHAT}")
    return()
  endif()
  set(fuzzer ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}er)
  add_custom_command(OUTPUT ${fuzzer}
    COMMAND ${TQ_CLANGXX} -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined -I${CMAKE_SOURCE_DIR} ${F_SOURCES} -o ${fuzzer}
    DEPENDS ${F_SOURCES} ${F_DEPENDS}
    COMMENT "Building the fuzzer for ${F_WHAT}")
  add_custom_target(${F_NAME}er_build ALL DEPENDS ${fuzzer})
  add_test(NAME ${F_NAME} COMMAND ${fuzzer} -seed=1 -max_total_time=15 -max_len=${F_MAX_LEN} -dict=${F_DICT})
  set_tests_properties(${F_NAME} PROPERTIES LABELS native TIMEOUT 60)
endfunction()
