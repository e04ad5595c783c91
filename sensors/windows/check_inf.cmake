# Checks that the INF installs a demand-start kernel service for omzi2c.sys
# and sets all six Parameters values as REG_DWORD, and that it does so on x86
# and on x64: decorated install sections for each (NTx86, NTamd64), each
# copying the image from its architecture's folder; that its [Version] locks
# the installed files (PnpLockdown = 1) and names no catalog.
#   cmake -DINF=omzi2c.inf -P check_inf.cmake
file(READ "${INF}" inf)
foreach(pattern
    "AddService[ \t]*=[ \t]*omzi2c,"
    "ServiceType[ \t]*=[ \t]*1[ \t;]"
    "StartType[ \t]*=[ \t]*3[ \t;]"
    "ServiceBinary[ \t]*=[ \t]*%12%\\\\omzi2c\\.sys"
    "\\[omzi2c\\.CopyFiles\\][ \t]*\n[ \t]*omzi2c\\.sys[ \t]*\n")
  if(NOT inf MATCHES "${pattern}")
    message(FATAL_ERROR "INF lacks ${pattern}")
  endif()
endforeach()
foreach(value ISAPortDriverEnable I2CDriverEnable Chipset VID DID Func)
  if(NOT inf MATCHES "\nHKR, Parameters, ${value},[ \t]*0x0001000[13],")
    message(FATAL_ERROR "INF does not set Parameters\\${value} as a REG_DWORD")
  endif()
endforeach()

# The lines of section [name] (up to the next section) in ${body}.
function(inf_section name body)
  string(REPLACE "." "\\." pattern "${name}")
  if(NOT inf MATCHES "\n\\[${pattern}\\][ \t]*\n([^[]*)")
    message(FATAL_ERROR "INF has no [${name}] section")
  endif()
  set(${body} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# The installed files are locked against anything but setup, and no catalog is
# named: the package has none (the images carry embedded signatures).
inf_section("Version" version)
if(NOT version MATCHES "(^|\n)PnpLockdown[ \t]*=[ \t]*1[ \t]*(;[^\n]*)?\n")
  message(FATAL_ERROR "[Version] lacks PnpLockdown = 1")
endif()
if(version MATCHES "(^|\n)CatalogFile")
  message(FATAL_ERROR "[Version] names a catalog, which the package does not have")
endif()

foreach(arch x86 amd64)
  inf_section("DefaultInstall.NT${arch}" install)
  if(NOT install MATCHES "(^|\n)CopyFiles[ \t]*=[ \t]*omzi2c\\.CopyFiles[ \t]*\n")
    message(FATAL_ERROR "[DefaultInstall.NT${arch}] does not copy omzi2c.CopyFiles")
  endif()
  inf_section("DefaultInstall.NT${arch}.Services" services)
  if(NOT services MATCHES "(^|\n)AddService[ \t]*=[ \t]*omzi2c,[ \t]*,[ \t]*omzi2c\\.Service[ \t]*\n")
    message(FATAL_ERROR "[DefaultInstall.NT${arch}.Services] does not add the omzi2c service")
  endif()
  inf_section("SourceDisksFiles.${arch}" files)
  if(NOT files MATCHES "(^|\n)omzi2c\\.sys[ \t]*=[ \t]*1,[ \t]*${arch}[ \t]*\n")
    message(FATAL_ERROR "[SourceDisksFiles.${arch}] does not take omzi2c.sys from ${arch}")
  endif()
  inf_section("DefaultUninstall.NT${arch}.Services" uninstall)
  if(NOT uninstall MATCHES "(^|\n)DelService[ \t]*=[ \t]*omzi2c,")
    message(FATAL_ERROR "[DefaultUninstall.NT${arch}.Services] does not delete the service")
  endif()
endforeach()
message(STATUS "${INF}: installs omzi2c.sys on x86 (NTx86) and x64 (NTamd64), locked, no catalog")
