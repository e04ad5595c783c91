# The rules check_driver_image.cmake applies to a driver image's imports and,
# on x64, to its unwind data; functions only, included by the check and by
# its tests. Imports are named DLL!routine, the DLL in lower case.
cmake_policy(VERSION 3.20)

# omzi2c_read_import_list(FILE OUT): the DLL!routine entries of an import
# list (lines "DLL routine first-Windows-version", # for comments). Stops
# on a line that names no Windows version.
function(omzi2c_read_import_list file out)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "no import list at ${file}")
  endif()
  file(STRINGS "${file}" lines)
  set(entries)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^([^ \t]+)[ \t]+([^ \t]+)[ \t]+(Windows [^ \t].*)$")
      message(FATAL_ERROR "${file}: '${line}' is not 'DLL routine Windows-version' (every "
                          "entry names the first Windows version that exports the routine)")
    endif()
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND entries "${dll}!${CMAKE_MATCH_2}")
  endforeach()
  set(${out} ${entries} PARENT_SCOPE)
endfunction()

# omzi2c_image_imports(HEADERS OUT): the DLL!routine imports that objdump -p
# (HEADERS) reads from the import table; an import by ordinal stops the check.
function(omzi2c_image_imports headers out)
  string(FIND "${headers}" "The Import Tables" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "no import table")
  endif()
  string(SUBSTRING "${headers}" ${start} -1 tables)
  # The import tables end where objdump's next part begins.
  string(REGEX REPLACE "\n\n[A-Z][^\n]*\n.*$" "" tables "${tables}")
  # In order, each indented by a tab: a DLL's name, a heading, then one row
  # per routine imported from it. Any other row (an import by ordinal) stops.
  string(REGEX MATCHALL "\n\t[^\n]*" rows "${tables}")
  set(imports)
  set(dll "")
  foreach(row IN LISTS rows)
    if(row MATCHES "^\n\tDLL Name: (.+)$")
      string(STRIP "${CMAKE_MATCH_1}" dll)
      string(TOLOWER "${dll}" dll)
    elseif(row MATCHES "^\n\tvma:")
      continue()
    elseif(dll AND row MATCHES "^\n\t[0-9a-fA-F]+\t +[0-9]+ +([A-Za-z_][A-Za-z0-9_@?$]*)[ \t]*$")
      list(APPEND imports "${dll}!${CMAKE_MATCH_1}")
    else()
      string(STRIP "${row}" row)
      message(FATAL_ERROR "driver imports from '${dll}' by ordinal or without a name: '${row}'")
    endif()
  endforeach()
  set(${out} ${imports} PARENT_SCOPE)
endfunction()

# omzi2c_check_imports(HEADERS LIST_FILE): every import of the image is in
# the list; anything else (another routine, another DLL, a routine under the
# other DLL) stops the check.
function(omzi2c_check_imports headers list_file)
  omzi2c_read_import_list("${list_file}" allowed)
  omzi2c_image_imports("${headers}" imports)
  if(NOT imports)
    message(FATAL_ERROR "the import table names no routine")
  endif()
  set(refused)
  foreach(import IN LISTS imports)
    if(NOT import IN_LIST allowed)
      list(APPEND refused "${import}")
    endif()
  endforeach()
  if(refused)
    string(REPLACE ";" ", " refused "${refused}")
    message(FATAL_ERROR "driver imports ${refused}, not in ${list_file}: add a routine "
                        "there with the first Windows version that exports it")
  endif()
  list(LENGTH imports count)
  set(omzi2c_import_count ${count} PARENT_SCOPE)
endfunction()

# omzi2c_needs_unwind_entry(INSTRUCTION OUT): TRUE when one instruction of
# objdump's AT&T disassembly makes its function a frame function, one that
# x64 requires unwind data for. A leaf function makes no call, never moves
# the stack pointer and never touches a nonvolatile register (which it could
# only do after saving it); it may read and write the stack above the stack
# pointer (its arguments and home space) and leave by ret or a jump. The
# rule errs towards "frame function": any mention of a nonvolatile register
# (rbx, rbp, rsi, rdi, r12 to r15 at any width, xmm6 to xmm15; string
# instructions name rsi and rdi), the stack pointer outside a memory operand,
# call, push, pop, enter, leave, cpuid (writes rbx), vzeroall and the
# xrstor family (write xmm6 to xmm15), and anything objdump cannot decode.
function(omzi2c_needs_unwind_entry instruction out)
  string(REGEX REPLACE "[ \t]*#.*$" "" insn "${instruction}")
  string(REGEX REPLACE "<[^>]*>" "" insn "${insn}")
  string(STRIP "${insn}" insn)
  set(frame FALSE)
  set(nonvolatile
      "%(rbx|ebx|bx|bl|bh|rbp|ebp|bp|bpl|rsi|esi|si|sil|rdi|edi|di|dil|r1[2-5][dwb]?|[xyz]mm([6-9]|1[0-5]))")
  string(REGEX REPLACE "\\([^)]*\\)" "" registers "${insn}")
  if(insn MATCHES "^(\\(bad\\)|([a-z0-9]+ )*(call|push|pop|enter|leave|cpuid|vzeroall|f?xrstor)[a-z0-9]*([ \t]|$))"
     OR insn MATCHES "${nonvolatile}([^0-9a-z]|$)"
     OR registers MATCHES "%(rsp|esp|spl?)([^0-9a-z]|$)")
    set(frame TRUE)
  endif()
  set(${out} ${frame} PARENT_SCOPE)
endfunction()

# omzi2c_check_unwind(OBJDUMP HEADERS DEBUG_IMAGE): the image whose objdump -p
# is HEADERS has an exception directory, and a .pdata entry that starts at
# every frame function of DEBUG_IMAGE (its copy with symbols: same layout)
# and ends inside it. Functions are the symbols the compiler typed as
# functions.
function(omzi2c_check_unwind objdump headers debug_image)
  if(NOT headers MATCHES "\nEntry 3 ([0-9a-fA-F]+) ([0-9a-fA-F]+) Exception Directory")
    message(FATAL_ERROR "no exception directory entry in the headers")
  endif()
  math(EXPR directory_size "0x${CMAKE_MATCH_2}")
  # objdump lists the entries up to a blank line (with remarks between them
  # where it finds the table out of order).
  string(REGEX MATCH "The Function Table.*" table "${headers}")
  string(REGEX REPLACE "\n\n.*$" "" table "${table}")
  string(REGEX MATCHALL "\n [0-9a-fA-F]+:\t[0-9a-fA-F]+ [0-9a-fA-F]+ [0-9a-fA-F]+" entries
         "${table}")
  list(LENGTH entries entry_count)
  math(EXPR expected_size "${entry_count} * 12")
  if(entry_count EQUAL 0 OR NOT directory_size EQUAL expected_size)
    message(FATAL_ERROR "the exception directory holds ${directory_size} bytes, "
                        "${entry_count} .pdata entries found")
  endif()
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "\t([0-9a-fA-F]+) ([0-9a-fA-F]+)" _ "${entry}")
    math(EXPR begin "0x${CMAKE_MATCH_1}")
    math(EXPR end "0x${CMAKE_MATCH_2}")
    set(unwind_${begin} ${end})
  endforeach()

  execute_process(COMMAND ${objdump} -h -t ${debug_image} OUTPUT_VARIABLE table RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objdump} -h -t ${debug_image} failed")
  endif()
  # Section n (1-based in the symbol table) starts at its VMA and ends at VMA + size.
  string(REGEX MATCHALL "\n +[0-9]+ [^ \n]+ +[0-9a-f]+ +[0-9a-f]+" sections "${table}")
  foreach(section IN LISTS sections)
    string(REGEX MATCH "([0-9]+) [^ ]+ +([0-9a-f]+) +([0-9a-f]+)" _ "${section}")
    math(EXPR number "${CMAKE_MATCH_1} + 1")
    math(EXPR section_start_${number} "0x${CMAKE_MATCH_3}")
    math(EXPR section_end_${number} "0x${CMAKE_MATCH_3} + 0x${CMAKE_MATCH_2}")
  endforeach()
  string(REGEX MATCHALL "\\(sec +[0-9]+\\)\\(fl 0x[0-9a-f]+\\)\\(ty +[0-9a-f]+\\)[^\n]* 0x[0-9a-f]+ [^\n]+"
         symbols "${table}")
  # A function runs up to the next symbol of any kind (an import thunk, a
  # data label) or its section's end.
  set(starts)
  set(bounds)
  foreach(symbol IN LISTS symbols)
    string(REGEX MATCH "^\\(sec +([0-9]+)\\).*\\(ty +([0-9a-f]+)\\).* 0x([0-9a-f]+) ([^ ]+)$" _
           "${symbol}")
    set(number ${CMAKE_MATCH_1})
    if(NOT DEFINED section_start_${number})
      continue()
    endif()
    math(EXPR address "${section_start_${number}} + 0x${CMAKE_MATCH_3}")
    list(APPEND bounds ${address})
    # COFF type: bits 4 and 5 hold the derived type, 2 for a function.
    math(EXPR derived "(0x${CMAKE_MATCH_2} >> 4) & 3")
    if(derived EQUAL 2)
      list(APPEND starts ${address})
      set(name_${address} ${CMAKE_MATCH_4})
      set(limit_${address} ${section_end_${number}})
    endif()
  endforeach()
  if(NOT starts)
    message(FATAL_ERROR "${debug_image} names no function")
  endif()
  list(REMOVE_DUPLICATES starts)
  list(SORT starts COMPARE NATURAL)
  list(REMOVE_DUPLICATES bounds)
  list(SORT bounds COMPARE NATURAL)
  set(previous "")
  foreach(bound IN LISTS bounds)
    if(previous AND DEFINED limit_${previous} AND bound LESS limit_${previous})
      set(limit_${previous} ${bound})
    endif()
    set(previous ${bound})
  endforeach()

  # One pass over the disassembly marks each function that needs an entry.
  execute_process(COMMAND ${objdump} -d --no-show-raw-insn ${debug_image}
                  OUTPUT_VARIABLE code RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objdump} -d ${debug_image} failed")
  endif()
  string(REGEX MATCHALL "\n +[0-9a-f]+:\t[^\n]*" lines "${code}")
  list(LENGTH starts function_count)
  list(GET starts 0 current)
  set(next 1)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "([0-9a-f]+):\t(.*)" _ "${line}")
    math(EXPR address "0x${CMAKE_MATCH_1}")
    set(instruction "${CMAKE_MATCH_2}")
    while(next LESS function_count)
      list(GET starts ${next} following)
      if(address LESS following)
        break()
      endif()
      set(current ${following})
      math(EXPR next "${next} + 1")
    endwhile()
    if(address LESS current OR NOT address LESS limit_${current} OR frame_${current})
      continue()
    endif()
    omzi2c_needs_unwind_entry("${instruction}" frame)
    if(frame)
      set(frame_${current} TRUE)
      set(reason_${current} "${instruction}")
    endif()
  endforeach()

  set(missing)
  set(frames 0)
  foreach(start IN LISTS starts)
    if(NOT frame_${start})
      continue()
    endif()
    math(EXPR frames "${frames} + 1")
    math(EXPR at "${start}" OUTPUT_FORMAT HEXADECIMAL)
    if(NOT DEFINED unwind_${start})
      list(APPEND missing "${name_${start}} at ${at} (${reason_${start}})")
    elseif(NOT unwind_${start} GREATER start OR unwind_${start} GREATER limit_${start})
      list(APPEND missing "${name_${start}} at ${at}: its entry does not end inside it")
    endif()
  endforeach()
  if(missing)
    string(REPLACE ";" "\n  " missing "${missing}")
    message(FATAL_ERROR "no .pdata entry for these functions that need unwind data:\n  ${missing}")
  endif()
  set(omzi2c_unwind_summary "${frames} of ${function_count} functions need unwind data, all have it"
      PARENT_SCOPE)
endfunction()
