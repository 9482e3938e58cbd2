# Checks the layering of the sources and of the core tests; run by CTest.
#   cmake -DSRC=<src folder> -DCORE_TESTS="<binary>;<binary>..." -P check_layers.cmake
# Fails when a source includes a header of a higher layer, of a sibling layer or of a
# folder that has no place in the order; when a file outside ui/widgets/ includes a header
# of QtGui, QtWidgets or QtPrintSupport; and when a core test executable is linked to a
# GUI library.
cmake_minimum_required(VERSION 3.21)

set(gui_modules "QtGui|QtWidgets|QtPrintSupport|QtOpenGL|QtSvg")
# Class headers of the GUI modules that a core file could reach through another path.
set(gui_classes "QApplication|QGuiApplication|QWidget|QColor|QFont|QFontMetrics|QPainter|QPixmap|QImage|QIcon|QPalette|QPrinter|QPageLayout|QPageSize|QKeySequence|QAction|QMessageBox|QDesktopServices|QClipboard|QScreen|QBrush|QPen")
set(failures "")

# The layers from the ground up. Two folders on one rank are siblings: neither includes
# the other. Evtrak.cpp, the program's entry, stands on top of all.
set(rank_base 0)
set(rank_settings 1)
set(rank_eventlog 2)
set(rank_export 3)
set(rank_mqtt 3)
set(rank_acquisition 4)
set(rank_app 5)
set(rank_ui/widgets 6)
set(rank_main 7)

# The layer of a path relative to src/ ("eventlog/uLog.h" -> eventlog), in `out`; empty
# when the folder has no place in the order.
function(layer_of path out)
  if(path MATCHES "^ui/widgets/")
    set(layer ui/widgets)
  elseif(path MATCHES "^([A-Za-z0-9_]+)/")
    set(layer ${CMAKE_MATCH_1})
  elseif(path STREQUAL "Evtrak.cpp")
    set(layer main)
  else()
    set(layer "")
  endif()
  if(layer AND NOT DEFINED rank_${layer})
    set(layer "")
  endif()
  set(${out} "${layer}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.cpp" "${SRC}/*.h")
foreach(rel IN LISTS sources)
  layer_of("${rel}" from)
  if(NOT from)
    list(APPEND failures "${rel}: a folder outside the layers")
    continue()
  endif()
  file(STRINGS "${SRC}/${rel}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    string(STRIP "${line}" line)
    if(line MATCHES "^#[ \t]*include[ \t]*\"([^\"]*/[^\"]+)\"")
      layer_of("${CMAKE_MATCH_1}" to)
      if(NOT to)
        list(APPEND failures "${rel}: ${line} (a folder outside the layers)")
      elseif(NOT to STREQUAL from AND NOT rank_${to} LESS rank_${from})
        list(APPEND failures "${rel}: ${line} (${from} may not include ${to})")
      endif()
    endif()
    if(from STREQUAL "ui/widgets" OR from STREQUAL "main")
      continue()
    endif()
    if(line MATCHES "[\"<][^\">]*widgets/"
       OR line MATCHES "<(${gui_modules})[/>]"
       OR line MATCHES "<(${gui_classes})>")
      list(APPEND failures "${rel}: ${line}")
    endif()
  endforeach()
endforeach()

foreach(binary IN LISTS CORE_TESTS)
  execute_process(COMMAND ldd "${binary}" OUTPUT_VARIABLE libs RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(APPEND failures "${binary}: ldd failed")
  elseif(libs MATCHES "libQt6(Gui|Widgets|PrintSupport|OpenGL)")
    get_filename_component(name "${binary}" NAME)
    list(APPEND failures "${name}: core test linked to ${CMAKE_MATCH_0}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Layering broken:\n  ${text}")
endif()
list(LENGTH sources nsources)
list(LENGTH CORE_TESTS ntests)
message(STATUS "Layers clean: ${nsources} source files, ${ntests} core tests")
