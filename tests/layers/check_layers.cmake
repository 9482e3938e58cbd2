# Checks the layering of the sources and of the core tests; run by CTest.
#   cmake -DSRC=<src folder> -DCORE_TESTS="<binary>;<binary>..." -P check_layers.cmake
# Fails when a file outside a widgets/ folder includes a widgets/ header or a header of
# QtGui, QtWidgets or QtPrintSupport, and when a core test executable is linked to a
# GUI library.
cmake_minimum_required(VERSION 3.21)

set(gui_modules "QtGui|QtWidgets|QtPrintSupport|QtOpenGL|QtSvg")
# Class headers of the GUI modules that a core file could reach through another path.
set(gui_classes "QApplication|QGuiApplication|QWidget|QColor|QFont|QFontMetrics|QPainter|QPixmap|QImage|QIcon|QPalette|QPrinter|QPageLayout|QPageSize|QKeySequence|QAction|QMessageBox|QDesktopServices|QClipboard|QScreen|QBrush|QPen")
set(failures "")

file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.cpp" "${SRC}/*.h")
foreach(rel IN LISTS sources)
  if(rel MATCHES "(^|/)widgets/" OR rel STREQUAL "Evtrak.cpp")
    continue()
  endif()
  file(STRINGS "${SRC}/${rel}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "[\"<][^\">]*widgets/"
       OR line MATCHES "<(${gui_modules})[/>]"
       OR line MATCHES "<(${gui_classes})>")
      string(STRIP "${line}" line)
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
