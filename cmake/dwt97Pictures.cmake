# The picture formats beyond bitmaps: PGM and PPM always, PNG with libspng,
# JPEG with libjpeg and TIFF with libtiff where DWT97_PNG, DWT97_JPEG and
# DWT97_TIFF allow and pkg-config finds them. Sets DWT97_PICTURE_DEPENDENCIES
# (the found libraries: SPNG, JPEG, TIFF, each an imported target
# PkgConfig::DWT97_<name>), DWT97_PICTURE_LINK_NAMES
# (their link names once installed), DWT97_PC_REQUIRES_PRIVATE (their
# pkg-config modules) and DWT97_FORMATS_SUMMARY.
find_package(PkgConfig QUIET)

set(DWT97_PICTURE_DEPENDENCIES)
set(DWT97_PICTURE_LINK_NAMES)
set(DWT97_PC_REQUIRES_PRIVATE)

# dwt97_picture_library(<option> <name> <pkg-config module> <link name>)
function(dwt97_picture_library option name module link)
  set(found OFF)
  if(NOT ${option} STREQUAL "OFF")
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(DWT97_${name} QUIET IMPORTED_TARGET GLOBAL ${module})
    endif()
    if(DWT97_${name}_FOUND)
      set(found ON)
    elseif(${option} STREQUAL "ON")
      message(FATAL_ERROR "${option}=ON but pkg-config finds no '${module}': install its "
                          "development package or set ${option}=OFF")
    elseif(NOT ${option} STREQUAL "AUTO")
      message(FATAL_ERROR "${option} must be AUTO, ON or OFF, not '${${option}}'")
    endif()
  endif()
  if(found)
    list(APPEND DWT97_PICTURE_DEPENDENCIES ${name})
    list(APPEND DWT97_PICTURE_LINK_NAMES ${link})
    list(APPEND DWT97_PC_REQUIRES_PRIVATE ${module})
  endif()
  set(DWT97_WITH_${name} ${found} PARENT_SCOPE)
  set(DWT97_PICTURE_DEPENDENCIES ${DWT97_PICTURE_DEPENDENCIES} PARENT_SCOPE)
  set(DWT97_PICTURE_LINK_NAMES ${DWT97_PICTURE_LINK_NAMES} PARENT_SCOPE)
  set(DWT97_PC_REQUIRES_PRIVATE ${DWT97_PC_REQUIRES_PRIVATE} PARENT_SCOPE)
endfunction()

dwt97_picture_library(DWT97_PNG SPNG spng spng)
dwt97_picture_library(DWT97_JPEG JPEG libjpeg jpeg)
dwt97_picture_library(DWT97_TIFF TIFF libtiff-4 tiff)
list(JOIN DWT97_PC_REQUIRES_PRIVATE " " DWT97_PC_REQUIRES_PRIVATE)

dwt97_objects(dwt97_picture src/picture.cpp src/picture_netpbm.cpp src/picture_png.cpp
              src/picture_jpeg.cpp src/picture_tiff.cpp)
foreach(dependency IN LISTS DWT97_PICTURE_DEPENDENCIES)
  target_link_libraries(dwt97_picture PRIVATE PkgConfig::DWT97_${dependency})
endforeach()
target_compile_definitions(dwt97_picture PRIVATE
  DWT97_WITH_PNG=$<BOOL:${DWT97_WITH_SPNG}> DWT97_WITH_JPEG=$<BOOL:${DWT97_WITH_JPEG}>
  DWT97_WITH_TIFF=$<BOOL:${DWT97_WITH_TIFF}>)

set(DWT97_FORMATS_SUMMARY "reads BMP PGM PPM")
if(DWT97_WITH_SPNG)
  string(APPEND DWT97_FORMATS_SUMMARY " PNG")
endif()
if(DWT97_WITH_JPEG)
  string(APPEND DWT97_FORMATS_SUMMARY " JPEG")
endif()
if(DWT97_WITH_TIFF)
  string(APPEND DWT97_FORMATS_SUMMARY " TIFF")
endif()
string(APPEND DWT97_FORMATS_SUMMARY "; writes raw PGM")
if(DWT97_WITH_SPNG)
  string(APPEND DWT97_FORMATS_SUMMARY " PNG")
endif()
message(STATUS "dwt97 picture formats: ${DWT97_FORMATS_SUMMARY}")
