# cmake -P script run by the schema_validation test.
# Variables: XMLLINT, SCHEMA_DIR, SAMPLE_DIR, WORK_DIR.
#
# 1. The bundled samples validate. The sample dictionary deliberately holds a few entries that
#    the loader skips, each after a comment starting "Skipped:"; with those entries removed it
#    must validate, and with them the schema must refuse exactly the ones that a schema can
#    tell from their keywords.
# 2./3. A small valid document of each format validates, and variants of it that each carry one
#    mistake are refused, while variants that only look unusual are accepted.
cmake_minimum_required(VERSION 3.16)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(failures 0)

# xmllint(<schema> <file> <result var> <output var>): 0 valid, 3 invalid, other: not checked.
function(xmllint schema file result_var output_var)
    execute_process(COMMAND ${XMLLINT} --noout --schema ${SCHEMA_DIR}/${schema} ${file}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(${result_var} ${result} PARENT_SCOPE)
    set(${output_var} "${output}" PARENT_SCOPE)
endfunction()

function(fail message)
    message(SEND_ERROR "${message}")
    math(EXPR n "${failures} + 1")
    set(failures ${n} PARENT_SCOPE)
endfunction()

# check_case(<schema> <base text> VALID|INVALID <label> <from> <to> [<from> <to>]...):
# validates the base text with each <from> replaced by <to>.
function(check_case schema base expectation label)
    set(text "${base}")
    list(LENGTH ARGN count)
    set(i 0)
    while(i LESS count)
        # list(GET) keeps empty replacements, which an unquoted ${ARGN} would drop.
        list(GET ARGN ${i} from)
        math(EXPR i "${i} + 1")
        list(GET ARGN ${i} to)
        math(EXPR i "${i} + 1")
        string(FIND "${text}" "${from}" at)
        if(at EQUAL -1)
            fail("${label}: the base document has no '${from}'")
            set(failures ${failures} PARENT_SCOPE)
            return()
        endif()
        string(REPLACE "${from}" "${to}" text "${text}")
    endwhile()
    string(MAKE_C_IDENTIFIER "${schema}-${label}" file_name)
    set(file ${WORK_DIR}/${file_name}.xml)
    file(WRITE ${file} "${text}")
    xmllint(${schema} ${file} result output)
    if(expectation STREQUAL "VALID" AND NOT result EQUAL 0)
        fail("${schema}: '${label}' should validate:\n${output}")
    elseif(expectation STREQUAL "INVALID" AND NOT result EQUAL 3)
        # 3 is xmllint's "does not validate"; anything else means the document itself is broken.
        fail("${schema}: '${label}' should be refused by the schema (xmllint ${result}):\n${output}")
    endif()
    set(failures ${failures} PARENT_SCOPE)
endfunction()

# --- 1. The bundled samples -------------------------------------------------------------------

xmllint(measurement.xsd ${SAMPLE_DIR}/measurements.xml result output)
if(NOT result EQUAL 0)
    fail("measurements.xml does not validate:\n${output}")
endif()

file(READ ${SAMPLE_DIR}/boiler.xml sample)
set(usable "${sample}")
set(skipped_count 0)
while(TRUE)
    string(FIND "${usable}" "<!-- Skipped:" begin)
    if(begin EQUAL -1)
        break()
    endif()
    string(SUBSTRING "${usable}" ${begin} -1 rest)
    string(FIND "${rest}" "</VariableDef>" length)
    if(length EQUAL -1)
        fail("boiler.xml: a 'Skipped:' comment is not followed by a VariableDef")
        break()
    endif()
    string(LENGTH "</VariableDef>" end_tag)
    math(EXPR after "${begin} + ${length} + ${end_tag}")
    string(SUBSTRING "${usable}" 0 ${begin} head)
    string(SUBSTRING "${usable}" ${after} -1 tail)
    set(usable "${head}${tail}")
    math(EXPR skipped_count "${skipped_count} + 1")
endwhile()
if(skipped_count EQUAL 0)
    fail("boiler.xml has no entries marked 'Skipped:'; update this test")
endif()
file(WRITE ${WORK_DIR}/boiler-usable.xml "${usable}")
xmllint(dictionary.xsd ${WORK_DIR}/boiler-usable.xml result output)
if(NOT result EQUAL 0)
    fail("boiler.xml without its ${skipped_count} skipped entries does not validate:\n${output}")
endif()

# The whole sample: refused for exactly the three entries with unknown keywords (the fourth
# skipped entry uses the reserved type "Component", which the schema accepts).
xmllint(dictionary.xsd ${SAMPLE_DIR}/boiler.xml result output)
string(REGEX MATCHALL "Schemas validity error[^\n]*" errors "${output}")
list(LENGTH errors error_count)
if(NOT result EQUAL 3 OR NOT error_count EQUAL 3)
    fail("boiler.xml: expected 3 schema errors, got ${error_count}:\n${output}")
endif()
foreach(value "'Bool'" "'Service interval'" "'NONE'")
    string(FIND "${output}" "${value}" at)
    if(at EQUAL -1)
        fail("boiler.xml: no schema error for ${value}:\n${output}")
    endif()
endforeach()

# --- 2. Dictionary documents ------------------------------------------------------------------

set(dictionary [=[<?xml version="1.0" encoding="UTF-8"?>
<DeviceDictionary device="schema test">
  <EnumDefs>
    <EnumDef id="enum.onOff">
      <Enum value="0">Off</Enum>
      <Enum value="1">On</Enum>
    </EnumDef>
  </EnumDefs>
  <Points>
    <VariableDef variableName="Temp">
      <DataItem type="Int16">
        <RawValueDflt>-32768</RawValueDflt>
        <RawValueMin>-400</RawValueMin>
        <RawValueMax>1200</RawValueMax>
        <UomId>degC_x10</UomId>
        <UnitsOfMeasure>0.1 degC</UnitsOfMeasure>
      </DataItem>
      <ExternalName>Temperature</ExternalName>
      <PxcId>1</PxcId>
      <Worksheet><Name>Boiler</Name><LineID>BLR1</LineID></Worksheet>
      <DisplayHints><DisplayHint grpid="Overview" rowid="1"/></DisplayHints>
      <Access>R</Access>
    </VariableDef>
    <VariableDef variableName="Enable">
      <DataItem type="Enum">
        <RawValueDflt>On</RawValueDflt>
        <EnumDefId>enum.onOff</EnumDefId>
      </DataItem>
      <Access>W</Access>
    </VariableDef>
    <VariableDef variableName="Clock">
      <DataItem type="DateTime">
        <RawValueDflt>currentDateTime</RawValueDflt>
        <Epoch>1970-Jan-01 (GMT)</Epoch>
      </DataItem>
    </VariableDef>
    <VariableDef variableName="HighTemp">
      <DataItem type="Event">
        <EventType changeable="false">Alarm</EventType>
        <AckType>MA</AckType>
        <ResetType>MR</ResetType>
      </DataItem>
      <EventId>101</EventId>
      <AssociatedVariable type="Temp" changeable="true">Temp</AssociatedVariable>
    </VariableDef>
  </Points>
</DeviceDictionary>
]=])

check_case(dictionary.xsd "${dictionary}" VALID "base document")
check_case(dictionary.xsd "${dictionary}" VALID "type contains Int" [[type="Int16"]] [[type="UInt32"]])
check_case(dictionary.xsd "${dictionary}" VALID "type contains Real" [[type="Int16"]] [[type="Real32"]])
check_case(dictionary.xsd "${dictionary}" VALID "type contains Time" [[type="DateTime"]] [[type="TimeOfDay"]])
check_case(dictionary.xsd "${dictionary}" VALID "reserved type Component" [[type="Int16"]] [[type="Component"]])
check_case(dictionary.xsd "${dictionary}" VALID "type IPv4" [[type="Int16"]] [[type="IPv4"]])
check_case(dictionary.xsd "${dictionary}" VALID "AckType containing MA" [[<AckType>MA<]] [[<AckType>MANUAL<]])
check_case(dictionary.xsd "${dictionary}" VALID "blanks around a number" [[<PxcId>1<]] [[<PxcId> 1 <]])
check_case(dictionary.xsd "${dictionary}" VALID "definitions directly below the root"
    [[<EnumDefs>]] "" [[</EnumDefs>]] "" [[<Points>]] "" [[</Points>]] "")
check_case(dictionary.xsd "${dictionary}" VALID "loose DisplayHint and a component model"
    [[<Access>W</Access>]] [[<DisplayHint grpid="Setup" rowid="2"/><Access>W</Access>]]
    [[</Points>]] [[</Points><ComponentsModel><Component><ComponentId>7</ComponentId></Component></ComponentsModel>]])

check_case(dictionary.xsd "${dictionary}" INVALID "unknown type keyword" [[type="Int16"]] [[type="Bool"]])
check_case(dictionary.xsd "${dictionary}" INVALID "type keyword in lower case" [[type="Enum"]] [[type="enum"]])
check_case(dictionary.xsd "${dictionary}" INVALID "unknown epoch" [[>1970-Jan-01 (GMT)<]] [[>Noon<]])
check_case(dictionary.xsd "${dictionary}" INVALID "epoch with a trailing blank" [[>1970-Jan-01 (GMT)<]] [[>Midnight <]])
check_case(dictionary.xsd "${dictionary}" INVALID "unknown event class" [[>Alarm<]] [[>Fault<]])
check_case(dictionary.xsd "${dictionary}" INVALID "AckType without a keyword" [[<AckType>MA<]] [[<AckType>NONE<]])
check_case(dictionary.xsd "${dictionary}" INVALID "ResetType without a keyword" [[<ResetType>MR<]] [[<ResetType>manual<]])
check_case(dictionary.xsd "${dictionary}" INVALID "EventType changeable True" [[changeable="false"]] [[changeable="True"]])
check_case(dictionary.xsd "${dictionary}" INVALID "AssociatedVariable changeable 1" [[changeable="true"]] [[changeable="1"]])
check_case(dictionary.xsd "${dictionary}" INVALID "Access RW" [[<Access>W<]] [[<Access>RW<]])
check_case(dictionary.xsd "${dictionary}" INVALID "Access with a blank" [[<Access>R<]] [[<Access> R<]])
check_case(dictionary.xsd "${dictionary}" INVALID "EnumDefId naming no EnumDef" [[<EnumDefId>enum.onOff<]] [[<EnumDefId>enum.onoff<]])
check_case(dictionary.xsd "${dictionary}" INVALID "two EnumDefs with one id" [[</EnumDefs>]] [[<EnumDef id="enum.onOff"/></EnumDefs>]])
check_case(dictionary.xsd "${dictionary}" INVALID "two points with one name" [[variableName="Clock"]] [[variableName="Temp"]])
check_case(dictionary.xsd "${dictionary}" INVALID "blank point name" [[variableName="Clock"]] [[variableName=" "]])
check_case(dictionary.xsd "${dictionary}" INVALID "non-numeric PxcId" [[<PxcId>1<]] [[<PxcId>one<]])
check_case(dictionary.xsd "${dictionary}" INVALID "non-numeric limit" [[<RawValueMin>-400<]] [[<RawValueMin>low<]])
check_case(dictionary.xsd "${dictionary}" INVALID "non-numeric Enum value" [[value="1"]] [[value="x"]])
check_case(dictionary.xsd "${dictionary}" INVALID "point without DataItem" [[</Points>]] [[<VariableDef variableName="Empty"/></Points>]])
check_case(dictionary.xsd "${dictionary}" INVALID "DisplayHint without grpid" [[grpid="Overview" ]] "")
check_case(dictionary.xsd "${dictionary}" INVALID "element outside the layout" [[<PxcId>]] [[<Units>C</Units><PxcId>]])
check_case(dictionary.xsd "${dictionary}" INVALID "other root element" [[DeviceDictionary]] [[Dictionary]])

# --- 3. Measurement documents -----------------------------------------------------------------

set(measurement [=[<?xml version="1.0" encoding="UTF-8"?>
<MeasurementDefinitions>
  <MSystemDef id="msys.us"><Label>US customary</Label></MSystemDef>
  <MUnitDef id="degC_x10"><Label>0.1 °C</Label><Scale>0.1</Scale><Resolution>0.1</Resolution></MUnitDef>
  <MUnitConverter id="conv.degC.degF"><Label>°F</Label><Scale>1.8</Scale><Offset>32</Offset></MUnitConverter>
  <MUnitDef2Converter>
    <ConverterId>conv.degC.degF</ConverterId>
    <SrcMUnitId>degC_x10</SrcMUnitId>
    <DstMUnitId>msys.us</DstMUnitId>
    <Resolution>0.1</Resolution>
  </MUnitDef2Converter>
</MeasurementDefinitions>
]=])

check_case(measurement.xsd "${measurement}" VALID "base document")
check_case(measurement.xsd "${measurement}" VALID "negative Offset" [[<Offset>32<]] [[<Offset> -40 <]])
check_case(measurement.xsd "${measurement}" VALID "no Offset" [[<Offset>32</Offset>]] "")
check_case(measurement.xsd "${measurement}" VALID "exponent and blanks" [[<Scale>1.8<]] [[<Scale> 18e-1 <]])
check_case(measurement.xsd "${measurement}" VALID "entry before its conversion"
    [[<MSystemDef]] [[<MUnitDef2Converter><ConverterId>conv.degC.degF</ConverterId><SrcMUnitId>degC</SrcMUnitId><DstMUnitId>msys.us</DstMUnitId><Resolution>1</Resolution></MUnitDef2Converter><MSystemDef]])

check_case(measurement.xsd "${measurement}" INVALID "ConverterId naming no conversion" [[<ConverterId>conv.degC.degF<]] [[<ConverterId>conv.degc.degf<]])
check_case(measurement.xsd "${measurement}" INVALID "fractional Offset" [[<Offset>32<]] [[<Offset>2.5<]])
check_case(measurement.xsd "${measurement}" INVALID "non-numeric Scale" [[<Scale>1.8<]] [[<Scale>fast<]])
check_case(measurement.xsd "${measurement}" INVALID "unit without Resolution" [[<Resolution>0.1</Resolution></MUnitDef>]] [[</MUnitDef>]])
check_case(measurement.xsd "${measurement}" INVALID "zero Resolution" [[<Resolution>0.1</Resolution></MUnitDef>]] [[<Resolution>0</Resolution></MUnitDef>]])
check_case(measurement.xsd "${measurement}" INVALID "two units with one id" [[</MeasurementDefinitions>]] [[<MUnitDef id="degC_x10"><Scale>1</Scale><Resolution>1</Resolution></MUnitDef></MeasurementDefinitions>]])
check_case(measurement.xsd "${measurement}" INVALID "two conversions with one id" [[</MeasurementDefinitions>]] [[<MUnitConverter id="conv.degC.degF"><Scale>1</Scale></MUnitConverter></MeasurementDefinitions>]])
check_case(measurement.xsd "${measurement}" INVALID "unit id with a trailing blank" [[<SrcMUnitId>degC_x10<]] [[<SrcMUnitId>degC_x10 <]])
check_case(measurement.xsd "${measurement}" INVALID "unknown element" [[<Label>US customary</Label>]] [[<Name>US customary</Name>]])

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} schema check(s) failed")
endif()
message(STATUS "all schema checks passed")
