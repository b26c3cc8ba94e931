#pragma once

// Every public header of kivoremote, the MQTT link.

#include <kivo/remote/DPointMirror.h>
#include <kivo/remote/DPointPublisher.h>
#include <kivo/remote/MqttConnection.h>
#include <kivo/remote/MqttMessage.h>
