# SPDX-License-Identifier: GPL-3.0-or-later
# Each room includes only the rooms it links: cmake -DROOT=<source folder> -P rooms_check.cmake
# fails, naming the file and the line, when one reaches past them.
cmake_minimum_required(VERSION 3.22)
set(rooms
  "common|common"
  "link|link,common"
  "mountfeed|mountfeed,common"
  "video/capture|video/capture,common"
  "video/drivers/v4l2|video/drivers/v4l2,video/capture,common"
  "video/drivers/indi|video/drivers/indi,video/capture,common"
  "video/drivers/sky|video/drivers/sky,video/capture,mountfeed,common"
  "video/save|video/save,video/capture,guide,common"
  "video|video,video/capture,video/save,guide,look,common"
  "guide|guide"
  "look|look"
  "tools/guidesim|tools/guidesim,tools/adaptorsim,guide,video/drivers/sky,video/capture,mountfeed,common"
  "guide/window|guide/window,guide,video/capture,common")
set(faults 0)
foreach(room IN LISTS rooms)
  string(REGEX REPLACE "[|,]" ";" parts "${room}")
  list(POP_FRONT parts folder)
  file(GLOB sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#include \"[^\"]+/[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)/[^/\"]+\".*" "\\1" included "${line}")
      if(NOT included IN_LIST parts)
        message(SEND_ERROR "${source}: '${line}' reaches ${included}/, which ${folder}/ does not link")
        math(EXPR faults "${faults} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
message(STATUS "rooms checked, ${faults} wrong includes")
