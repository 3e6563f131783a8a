# The libraries of the Windows cross-build, from the prefix scripts/windows-sdk.sh makes,
# under the names the Linux build gets from pkg-config, so that src/ links the same way.
# ODBC is Windows' own driver manager; there is no V4L2 or udev.
find_package(Qt6 REQUIRED COMPONENTS Test)

find_path(SQLITE3_INCLUDE_DIR sqlite3.h REQUIRED)
find_library(SQLITE3_LIBRARY NAMES sqlite3 REQUIRED)
find_path(TURBOJPEG_INCLUDE_DIR turbojpeg.h REQUIRED)
find_library(TURBOJPEG_LIBRARY NAMES turbojpeg REQUIRED)
find_library(LIBJPEG_LIBRARY NAMES jpeg REQUIRED)

function(quvelocap_imported name)
    cmake_parse_arguments(ARG "" "" "INCLUDES;LIBS" ${ARGN})
    add_library(PkgConfig::${name} INTERFACE IMPORTED GLOBAL)
    set_target_properties(PkgConfig::${name} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${ARG_INCLUDES}" INTERFACE_LINK_LIBRARIES "${ARG_LIBS}")
endfunction()
quvelocap_imported(SQLITE3 INCLUDES ${SQLITE3_INCLUDE_DIR} LIBS ${SQLITE3_LIBRARY})
quvelocap_imported(ODBC LIBS odbc32)
quvelocap_imported(LIBV4L)
quvelocap_imported(LIBUDEV)
quvelocap_imported(TURBOJPEG INCLUDES ${TURBOJPEG_INCLUDE_DIR} LIBS ${TURBOJPEG_LIBRARY})
quvelocap_imported(LIBJPEG INCLUDES ${TURBOJPEG_INCLUDE_DIR} LIBS ${LIBJPEG_LIBRARY})

# dlib: the static part the face detector needs, with no BLAS or LAPACK.
find_path(DLIB_INCLUDE_DIR dlib/image_processing/frontal_face_detector.h REQUIRED)
find_library(DLIB_LIBRARY_FILE NAMES dlib REQUIRED)
# Its threads and sockets use Winsock and the multimedia timer.
set(DLIB_LIBRARY ${DLIB_LIBRARY_FILE} ws2_32 winmm)
set(BLAS_LIBRARY "")
set(LAPACK_LIBRARY "")

