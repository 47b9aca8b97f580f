# zivra_add_test(NAME <name> COMMAND <cmd> [args...]
#                [SOUND] [X] [TRAY] [GUI] [LABELS <label>...] [TIMEOUT <s>])
#
# Every test runs inside its own private session (tests/support/session.sh):
# fresh runtime, config and state folders and a private session D-Bus, so no
# test ever sees the user's settings, sound server or display.
#   SOUND  a private PipeWire sound server with the sinks "speakers",
#          "headphones", "micfeed" and the source "mic"        label: sound
#   X      an Xvfb display                                      label: x11
#   TRAY   an Xvfb display with a tray host (implies X)         label: x11
#   GUI    Qt widgets on the offscreen platform                 label: gui
# Tests without any of these are labelled "unit". The sanitizer run of the
# test command skips the labels gui and x11, so a sanitizer build
# (ZIVRA_SANITIZE) neither builds nor registers tests with GUI, X or TRAY:
# the widget tests are the slowest part of that build.
function(zivra_add_test)
  cmake_parse_arguments(ARG "SOUND;X;TRAY;GUI" "NAME;TIMEOUT" "COMMAND;LABELS" ${ARGN})
  if(NOT ARG_NAME OR NOT ARG_COMMAND)
    message(FATAL_ERROR "zivra_add_test needs NAME and COMMAND")
  endif()
  if(ZIVRA_SANITIZE AND (ARG_GUI OR ARG_X OR ARG_TRAY))
    return()
  endif()
  set(flags)
  set(labels ${ARG_LABELS})
  set(env)
  if(ARG_SOUND)
    list(APPEND flags --sound)
    list(APPEND labels sound)
  endif()
  if(ARG_TRAY)
    list(APPEND flags --tray)
    list(APPEND labels x11)
  elseif(ARG_X)
    list(APPEND flags --x)
    list(APPEND labels x11)
  endif()
  if(ARG_GUI)
    list(APPEND labels gui)
    if(NOT ARG_X AND NOT ARG_TRAY)
      list(APPEND env QT_QPA_PLATFORM=offscreen)
    endif()
  endif()
  if(NOT labels)
    set(labels unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${ARG_NAME}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/support/session.sh ${flags} -- ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES LABELS "${labels}" TIMEOUT ${ARG_TIMEOUT}
                                              ENVIRONMENT "${env}")
  if("sound" IN_LIST labels)
    # Each test has its own server, but real-time audio on a small machine
    # starves when several servers and their clients compete for the CPU;
    # the sound tests take turns so that a dropout never fails a test. On two
    # cores any test beside one starves it too (a sanitizer build of the
    # engine most), so a sound test takes two of ctest's job slots.
    set_tests_properties(${ARG_NAME} PROPERTIES RESOURCE_LOCK zivra_sound PROCESSORS 2)
  endif()
endfunction()

# zivra_add_gtest(<target> <sources>... [LIBS <libs>...] [MAIN qt|widgets]
#                 [SOUND] [X] [TRAY] [GUI] [LABELS ...] [TIMEOUT s] [ARGS <args>...])
# Builds a GoogleTest executable and registers it with zivra_add_test, run
# with ARGS (a --gtest_filter that leaves a long test to an entry of its own). Its
# main() is GoogleTest's own, or with MAIN one that first creates a Qt
# application object: qt for a QCoreApplication (tests/support/QtTestMain.cpp),
# widgets for a QApplication (tests/support/QtWidgetsTestMain.cpp).
function(zivra_add_gtest target)
  cmake_parse_arguments(ARG "SOUND;X;TRAY;GUI" "TIMEOUT;MAIN" "LIBS;LABELS;ARGS" ${ARGN})
  if(ZIVRA_SANITIZE AND (ARG_GUI OR ARG_X OR ARG_TRAY))
    return()
  endif()
  add_executable(${target} ${ARG_UNPARSED_ARGUMENTS})
  if(ARG_MAIN STREQUAL "qt")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
    target_link_libraries(${target} PRIVATE Qt6::Core)
  elseif(ARG_MAIN STREQUAL "widgets")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/QtWidgetsTestMain.cpp)
    target_link_libraries(${target} PRIVATE Qt6::Widgets)
  elseif(ARG_MAIN)
    message(FATAL_ERROR "zivra_add_gtest: MAIN is qt or widgets, not ${ARG_MAIN}")
  else()
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  set(pass)
  foreach(opt SOUND X TRAY GUI)
    if(ARG_${opt})
      list(APPEND pass ${opt})
    endif()
  endforeach()
  if(ARG_TIMEOUT)
    list(APPEND pass TIMEOUT ${ARG_TIMEOUT})
  endif()
  if(ARG_LABELS)
    list(APPEND pass LABELS ${ARG_LABELS})
  endif()
  zivra_add_test(NAME ${target} COMMAND $<TARGET_FILE:${target}> ${ARG_ARGS} ${pass})
endfunction()

find_package(GTest REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Test)

if(ZIVRA_FUZZ)
  # Fuzz targets add themselves to this target; the test command builds only it.
  add_custom_target(fuzzers)
endif()
