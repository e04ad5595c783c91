# Which instructions make an x64 function need unwind data (a frame
# function), in objdump's AT&T disassembly, and which a leaf may hold.
#   cmake -P test_leaf_rule.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/driver_image_rules.cmake)

# "frame|instruction" or "leaf|instruction".
set(cases
  # What leaves do: registers the caller need not keep, port I/O, the
  # caller's stack above the stack pointer, leaving by ret or a jump.
  "leaf|mov    %ecx,%eax"
  "leaf|movzbl %r11b,%r10d"
  "leaf|in     (%dx),%al"
  "leaf|out    %eax,(%dx)"
  "leaf|mov    0x28(%rsp),%eax"
  "leaf|mov    %edx,0x10(%rsp)"
  "leaf|movaps %xmm1,%xmm5"
  "leaf|ret"
  "leaf|jmp    *0x5d9a(%rip)        # 14000d1f0 <__imp_memset>"
  "leaf|jmp    140001c00 <_Z20ExchangeMessageLimitmm>"
  "leaf|data16 cs nopw 0x0(%rax,%rax,1)"
  # Calls and every way of moving the stack pointer.
  "frame|call   140007450 <memset>"
  "frame|call   *0x5d9a(%rip)        # 14000d1f0 <__imp_KeSetEvent>"
  "frame|push   %rbx"
  "frame|pushf"
  "frame|pop    %rbx"
  "frame|sub    $0x28,%rsp"
  "frame|lea    -0x8(%rsp),%rsp"
  "frame|and    $0xfffffffffffffff0,%rsp"
  "frame|mov    %rsp,%rbp"
  "frame|mov    %esp,%eax"
  "frame|leave"
  "frame|enter  $0x10,$0x0"
  # Nonvolatile registers, at any width and where named only implicitly.
  "frame|mov    %rbx,0x8(%rsp)"
  "frame|mov    %sil,%al"
  "frame|movzwl %di,%eax"
  "frame|mov    %r12d,%eax"
  "frame|mov    %eax,%r15w"
  "frame|mov    (%rbp),%eax"
  "frame|movaps %xmm6,0x10(%rsp)"
  "frame|pxor   %xmm15,%xmm0"
  "frame|rep stos %al,%es:(%rdi)"
  "frame|movsb  %ds:(%rsi),%es:(%rdi)"
  "frame|cpuid"
  "frame|vzeroall"
  "frame|(bad)")

set(failures)
foreach(case IN LISTS cases)
  string(REGEX MATCH "^(leaf|frame)\\|(.*)$" _ "${case}")
  set(expected ${CMAKE_MATCH_1})
  omzi2c_needs_unwind_entry("${CMAKE_MATCH_2}" frame)
  set(got leaf)
  if(frame)
    set(got frame)
  endif()
  if(NOT got STREQUAL expected)
    list(APPEND failures "'${CMAKE_MATCH_2}': ${got}, not ${expected}")
  endif()
endforeach()
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH cases count)
message(STATUS "all ${count} instructions classified as expected")
