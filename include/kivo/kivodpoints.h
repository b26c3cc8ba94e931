#pragma once

// Every public header of kivodpoints.

#include <kivo/core/AppRegistry.h>
#include <kivo/core/LoadFinding.h>
#include <kivo/core/Namespaceable.h>
#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>

#include <kivo/types/DPTypeBase.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/dictionary/DictRef.h>

#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>

#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/points/VirtualDPointObject.h>
#include <kivo/points/checkDPointType.h>

#include <kivo/models/DPointModelItemData.h>
#include <kivo/models/DPointTableModel.h>
