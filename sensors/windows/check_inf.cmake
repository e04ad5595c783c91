# Checks that the INF installs a demand-start kernel service for omzi2c.sys
# and sets all six Parameters values as REG_DWORD.
#   cmake -DINF=omzi2c.inf -P check_inf.cmake
file(READ "${INF}" inf)
foreach(pattern
    "AddService[ \t]*=[ \t]*omzi2c,"
    "ServiceType[ \t]*=[ \t]*1[ \t;]"
    "StartType[ \t]*=[ \t]*3[ \t;]"
    "ServiceBinary[ \t]*=[ \t]*%12%\\\\omzi2c\\.sys"
    "omzi2c\\.sys[ \t]*=[ \t]*1")
  if(NOT inf MATCHES "${pattern}")
    message(FATAL_ERROR "INF lacks ${pattern}")
  endif()
endforeach()
foreach(value ISAPortDriverEnable I2CDriverEnable Chipset VID DID Func)
  if(NOT inf MATCHES "\nHKR, Parameters, ${value},[ \t]*0x0001000[13],")
    message(FATAL_ERROR "INF does not set Parameters\\${value} as a REG_DWORD")
  endif()
endforeach()
