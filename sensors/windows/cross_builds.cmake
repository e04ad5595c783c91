# The Windows driver and tool, cross-built by mingw-w64 from the same sources
# for x86 (build/windows) and for x64 (build/windows-x64), each an external
# project with its own toolchain; both images test-signed into one folder
# with the INF that installs either (build/windows-package); the image, INF
# and signature checks; and the Wine tests.
include(ExternalProject)
set(OMZI2C_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OMZI2C_PACKAGE_DIR ${CMAKE_BINARY_DIR}/windows-package)

# omzi2c_cross_build(ARCH TRIPLET FOLDER PACKAGES): the external project
# omzi2c_windows_<ARCH> (x86: omzi2c_windows) when the mingw-w64 tools for
# TRIPLET are found, else a notice naming PACKAGES. Sets OMZI2C_<ARCH>_BUILT
# and the objdump and nm of that architecture.
function(omzi2c_cross_build arch triplet folder packages)
  find_program(OMZI2C_${arch}_CXX ${triplet}-g++)
  find_program(OMZI2C_${arch}_OBJDUMP ${triplet}-objdump)
  find_program(OMZI2C_${arch}_NM ${triplet}-nm)
  find_path(OMZI2C_${arch}_DDK ntddk.h PATHS /usr/${triplet}/include/ddk NO_DEFAULT_PATH)
  set(OMZI2C_${arch}_BUILT FALSE PARENT_SCOPE)
  if(NOT OMZI2C_${arch}_CXX OR NOT OMZI2C_${arch}_OBJDUMP OR NOT OMZI2C_${arch}_NM
     OR NOT OMZI2C_${arch}_DDK)
    omzi2c_part_missing("${arch} Windows driver and tool, ${arch} Wine tests"
                        "mingw-w64 for ${triplet} not found" "${packages}")
    return()
  endif()
  string(REGEX REPLACE "-w64-mingw32$" "-mingw" toolchain ${triplet})
  set(target omzi2c_windows)
  if(NOT arch STREQUAL "x86")
    set(target omzi2c_windows_${arch})
  endif()
  ExternalProject_Add(${target}
    SOURCE_DIR ${OMZI2C_WINDOWS_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${folder}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${OMZI2C_WINDOWS_DIR}/toolchain-${toolchain}.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DOMZI2C_WERROR=${OMZI2C_WERROR}
      -DOMZI2C_JSON_INCLUDE=${OMZI2C_JSON_INCLUDE}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(OMZI2C_${arch}_BUILT TRUE PARENT_SCOPE)
  set(OMZI2C_${arch}_TARGET ${target} PARENT_SCOPE)
endfunction()

omzi2c_cross_build(x86 i686-w64-mingw32 windows
  "g++-mingw-w64-i686-win32 mingw-w64-i686-dev binutils-mingw-w64-i686")
omzi2c_cross_build(x64 x86_64-w64-mingw32 windows-x64
  "g++-mingw-w64-x86-64-win32 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64")
include(${OMZI2C_WINDOWS_DIR}/package.cmake)

# The image checks: each shipped image imports only the kernel and HAL
# routines of its architecture's list, is stripped, has its symbols in
# omzi2c-debug.sys and enters at the architecture's DriverEntry; the x64 one
# has unwind data for every function that is not a leaf.
if(OMZI2C_x86_BUILT)
  add_test(NAME windows.driver_image
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OMZI2C_x86_OBJDUMP} -DNM=${OMZI2C_x86_NM}
            -DIMAGE=${OMZI2C_PACKAGE_DIR}/x86/omzi2c.sys
            -DDEBUG_IMAGE=${CMAKE_BINARY_DIR}/windows/omzi2c-debug.sys
            -DFORMAT=PE32 -DENTRY=_DriverEntry@8 -DIMPORTS=${OMZI2C_WINDOWS_DIR}/imports-x86.txt
            -P ${OMZI2C_WINDOWS_DIR}/check_driver_image.cmake)
  set_tests_properties(windows.driver_image PROPERTIES LABELS windows)
endif()
if(OMZI2C_x64_BUILT)
  add_test(NAME windows64.driver_image
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OMZI2C_x64_OBJDUMP} -DNM=${OMZI2C_x64_NM}
            -DIMAGE=${OMZI2C_PACKAGE_DIR}/amd64/omzi2c.sys
            -DDEBUG_IMAGE=${CMAKE_BINARY_DIR}/windows-x64/omzi2c-debug.sys
            -DFORMAT=PE32+ -DENTRY=DriverEntry -DIMPORTS=${OMZI2C_WINDOWS_DIR}/imports-x64.txt
            -P ${OMZI2C_WINDOWS_DIR}/check_driver_image.cmake)
  set_tests_properties(windows64.driver_image PROPERTIES LABELS windows)
endif()
if(OMZI2C_x86_BUILT AND OMZI2C_x64_BUILT)
  # The x64 check must refuse the x86 image.
  add_test(NAME windows64.driver_image_refuses_x86
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OMZI2C_x64_OBJDUMP} -DNM=${OMZI2C_x64_NM}
            -DIMAGE=${OMZI2C_PACKAGE_DIR}/x86/omzi2c.sys
            -DDEBUG_IMAGE=${CMAKE_BINARY_DIR}/windows/omzi2c-debug.sys
            -DFORMAT=PE32+ -DENTRY=DriverEntry -DIMPORTS=${OMZI2C_WINDOWS_DIR}/imports-x64.txt
            -P ${OMZI2C_WINDOWS_DIR}/check_driver_image.cmake)
  set_tests_properties(windows64.driver_image_refuses_x86 PROPERTIES LABELS windows
    PASS_REGULAR_EXPRESSION "not a PE32\\+ image:")
endif()
# The image check refuses a changed import, an import list entry without its
# Windows version and, on x64, a function that lost its unwind entry; its rule
# for which x64 functions need one is tested apart.
foreach(arch x86 x64)
  if(NOT OMZI2C_${arch}_BUILT)
    continue()
  endif()
  set(name windows.image_refusals)
  set(args -DDEBUG_IMAGE=${CMAKE_BINARY_DIR}/windows/omzi2c-debug.sys -DFORMAT=PE32
           -DENTRY=_DriverEntry@8 -DIMAGE=${OMZI2C_PACKAGE_DIR}/x86/omzi2c.sys)
  if(arch STREQUAL "x64")
    set(name windows64.image_refusals)
    set(args -DDEBUG_IMAGE=${CMAKE_BINARY_DIR}/windows-x64/omzi2c-debug.sys -DFORMAT=PE32+
             -DENTRY=DriverEntry -DIMAGE=${OMZI2C_PACKAGE_DIR}/amd64/omzi2c.sys)
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OMZI2C_${arch}_OBJDUMP} -DNM=${OMZI2C_${arch}_NM}
            ${args} -DIMPORTS=${OMZI2C_WINDOWS_DIR}/imports-${arch}.txt
            -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${name}
            -P ${OMZI2C_WINDOWS_DIR}/test_image_refusals.cmake)
  set_tests_properties(${name} PROPERTIES LABELS windows)
endforeach()
add_test(NAME windows.leaf_rule COMMAND ${CMAKE_COMMAND} -P ${OMZI2C_WINDOWS_DIR}/test_leaf_rule.cmake)
set_tests_properties(windows.leaf_rule PROPERTIES LABELS windows)

if(OMZI2C_x86_BUILT OR OMZI2C_x64_BUILT)
  add_test(NAME windows.inf
    COMMAND ${CMAKE_COMMAND} -DINF=${OMZI2C_PACKAGE_DIR}/omzi2c.inf
            -P ${OMZI2C_WINDOWS_DIR}/check_inf.cmake)
  set_tests_properties(windows.inf PROPERTIES LABELS windows)
endif()

# The driver image under Wine, compared with the Linux build. The tests
# skip themselves where Wine is missing or cannot run.
if(OMZI2C_WINE_TESTS AND (OMZI2C_x86_BUILT OR OMZI2C_x64_BUILT))
  add_subdirectory(windows/wine)
endif()
