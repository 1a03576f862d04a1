# Precompiled Qt headers, shared by the whole build.
#
# Every file of ours starts with the same few hundred thousand lines of Qt headers. They are parsed once
# per layer instead of once per file: two small targets precompile them, and every library, program,
# test and benchmark of the build reuses one of the two (REUSE_FROM) instead of precompiling its own.
#
#   tessaro_pch_core     QtCore only. Reused by every target that does not link QtWidgets.
#   tessaro_pch_widgets  QtCore, QtGui and QtWidgets. Reused by the targets that link QtWidgets.
#
# Two, not one: a precompiled header puts every declaration it holds in front of each file that uses
# it. A single header with the widgets in it would let the libraries below the windows use QWidget
# without naming QtWidgets, and the compiler would no longer tell when the layering breaks. Which of
# the two a target gets follows from what it links, so a new library on QtCore alone gets the core one.
#
# The targets are the ones tessaro_strict() marks as our own code; the choice is made once every folder
# has been read (tessaro_apply_precompiled_headers, deferred to the end of the top folder).
#
# A reusing target must compile with the flags the header was made with. Both targets take the global
# flags (build type, sanitizers, fuzzing instrumentation) and tessaro_strict's; GCC is told to reject a
# header that does not fit (-Winvalid-pch, an error under -Werror) rather than quietly parse it again.
#
# -DTESSARO_PCH=OFF builds without them, which shows a file that leans on the header for an include it
# should name itself.

option(TESSARO_PCH "Precompile the Qt headers once per build" ON)

# What each header holds: the Qt headers most of our files include. A header missing from the list
# is only parsed where it is included, as before.
set(TESSARO_PCH_CORE_HEADERS
  <QtCore/QByteArray>
  <QtCore/QCoreApplication>
  <QtCore/QDir>
  <QtCore/QElapsedTimer>
  <QtCore/QFile>
  <QtCore/QFileInfo>
  <QtCore/QHash>
  <QtCore/QList>
  <QtCore/QMap>
  <QtCore/QObject>
  <QtCore/QPointer>
  <QtCore/QRegularExpression>
  <QtCore/QSet>
  <QtCore/QString>
  <QtCore/QStringList>
  <QtCore/QTemporaryDir>
  <QtCore/QTextStream>
  <QtCore/QThread>
  <QtCore/QTimer>
  <QtCore/QVariant>
  <QtCore/QtGlobal>
  <QtCore/QtMath>
)
set(TESSARO_PCH_WIDGETS_HEADERS
  ${TESSARO_PCH_CORE_HEADERS}
  <QtGui/QColor>
  <QtGui/QGuiApplication>
  <QtGui/QImage>
  <QtGui/QKeyEvent>
  <QtGui/QMouseEvent>
  <QtGui/QPainter>
  <QtGui/QPainterPath>
  <QtGui/QPalette>
  <QtGui/QPixmap>
  <QtGui/QScreen>
  <QtWidgets/QAbstractButton>
  <QtWidgets/QApplication>
  <QtWidgets/QLabel>
  <QtWidgets/QMessageBox>
  <QtWidgets/QWidget>
)

if(TESSARO_PCH)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # Clang stores the time of each file a header was made from and refuses the header when one is
    # newer; the generated list is written again at every configure, so a header that ccache hands back
    # would be refused. The contents are what matters.
    add_compile_options(-Xclang -fno-pch-timestamp)
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CCACHE_PROGRAM)
    # Lets ccache see which precompiled header a file was compiled against, so that it can cache it.
    add_compile_options(-fpch-preprocess)
  endif()
endif()

# The two header targets. Called after tessaro_strict() exists, before the folders.
function(tessaro_add_precompiled_headers)
  if(NOT TESSARO_PCH)
    return()
  endif()
  set(stub ${CMAKE_BINARY_DIR}/pch/stub.cpp)
  file(CONFIGURE OUTPUT ${stub} CONTENT "// The precompiled header's own target needs one file to build.\n")
  foreach(layer core widgets)
    set(target tessaro_pch_${layer})
    add_library(${target} OBJECT ${stub})
    if(layer STREQUAL "core")
      target_link_libraries(${target} PRIVATE Qt6::Core)
      target_precompile_headers(${target} PRIVATE ${TESSARO_PCH_CORE_HEADERS})
    else()
      target_link_libraries(${target} PRIVATE Qt6::Widgets)
      target_precompile_headers(${target} PRIVATE ${TESSARO_PCH_WIDGETS_HEADERS})
    endif()
    set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
    tessaro_strict_flags(${target})
  endforeach()
endfunction()

# TRUE in `result` when `target` links Qt6::Widgets, directly or through any library it links.
function(tessaro_links_widgets target result)
  set(queue ${target})
  set(seen)
  while(queue)
    list(POP_FRONT queue name)
    # Private dependencies of a static library appear as $<LINK_ONLY:name>.
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" name "${name}")
    if(NOT TARGET "${name}" OR name IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${name})
    get_target_property(aliased ${name} ALIASED_TARGET)
    if(aliased)
      set(name ${aliased})
    endif()
    if(name STREQUAL "Qt6::Widgets")
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
    get_target_property(type ${name} TYPE)
    get_target_property(imported ${name} IMPORTED)
    if(NOT imported AND NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${name} LINK_LIBRARIES)
      if(links)
        list(APPEND queue ${links})
      endif()
    endif()
    get_target_property(links ${name} INTERFACE_LINK_LIBRARIES)
    if(links)
      list(APPEND queue ${links})
    endif()
  endwhile()
  set(${result} FALSE PARENT_SCOPE)
endfunction()

# TRUE in `result` when a header of `target` that AUTOMOC reads (one in its sources, or one beside a
# source file with the same name) declares a QObject, gadget or namespace for moc.
function(tessaro_has_moc_headers target result)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(headers)
  foreach(source IN LISTS sources)
    if(source MATCHES "^\\$<")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir})
    if(source MATCHES "\\.(h|hpp|hxx)$")
      list(APPEND headers ${source})
    else()
      cmake_path(REPLACE_EXTENSION source LAST_ONLY .h OUTPUT_VARIABLE beside)
      list(APPEND headers ${beside})
    endif()
  endforeach()
  foreach(header IN LISTS headers)
    if(EXISTS ${header})
      file(STRINGS ${header} declarations REGEX "Q_OBJECT|Q_GADGET|Q_NAMESPACE")
      if(declarations)
        set(${result} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${result} FALSE PARENT_SCOPE)
endfunction()

# Gives every target tessaro_strict() marked the header of its layer.
function(tessaro_apply_precompiled_headers)
  if(NOT TESSARO_PCH)
    return()
  endif()
  get_property(targets GLOBAL PROPERTY TESSARO_OWN_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(disabled ${target} DISABLE_PRECOMPILE_HEADERS)
    if(disabled)
      continue()
    endif()
    tessaro_links_widgets(${target} widgets)
    if(widgets)
      target_precompile_headers(${target} REUSE_FROM tessaro_pch_widgets)
    else()
      target_precompile_headers(${target} REUSE_FROM tessaro_pch_core)
    endif()
    # AUTOMOC gathers the moc output of a target's headers into one mocs_compilation.cpp. Where no
    # header needs moc (a test includes the moc output of its own file), that file is empty and loading
    # the header would be all of its cost. Should a header gain a QObject before the next configure,
    # the file is only compiled without the header, no less correctly.
    get_target_property(automoc ${target} AUTOMOC)
    tessaro_has_moc_headers(${target} moc_headers)
    if(automoc AND NOT moc_headers)
      get_target_property(autogen ${target} AUTOGEN_BUILD_DIR)
      if(NOT autogen)
        get_target_property(binary ${target} BINARY_DIR)
        set(autogen ${binary}/${target}_autogen)
      endif()
      set_source_files_properties(${autogen}/mocs_compilation.cpp TARGET_DIRECTORY ${target}
                                  PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()
