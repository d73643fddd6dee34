// MqttUrl is where the bridge finds its broker, as --mqtt gives it:
// "mqtt://[USER@]HOST[:PORT]" (port 1883) or "mqtts://[USER@]HOST[:PORT]"
// (TLS, port 8883). HOST may be a name, an IPv4 address or an IPv6 address
// in brackets. The password is never part of it (VERU_MQTT_PASSWORD).
// Pure functions, any thread.
#ifndef VERU_CONSOLE_MQTT_MQTT_URL_H
#define VERU_CONSOLE_MQTT_MQTT_URL_H

#include <string>

struct MqttUrl {
  bool m_bTls = false;
  std::string m_sUser;  // empty: no user name is sent
  std::string m_sHost;
  int m_iPort = 0;

  // "HOST:PORT" ("[::1]:1883" for an IPv6 address), for messages.
  std::string HostPort() const;
};

// Reads sText into *pUrl. False, with *pError saying what is wrong in a few
// words, when it is not such a URL (another scheme, no host, a port that is
// not 1-65535, a path, a password after the user name).
bool ParseMqttUrl(const std::string& sText, MqttUrl* pUrl, std::string* pError);

#endif  // VERU_CONSOLE_MQTT_MQTT_URL_H
