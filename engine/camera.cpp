// Camera URLs: the still-image URL of a device, and the URL of its video
// stream, assembled from the camera's variables locally or asked of the
// controller (lu_camera_port) remotely.
#include <json-c/json.h>

#include "engine/clock.h"
#include "engine/poll_loop.h"
#include "engine/reply_readers.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace Veru {

namespace {

// The camera variables the stream URL is made of, copied out of the device.
struct CameraVariables {
  std::string sDirectURL;  // "streaming": path of the stream on the camera
  std::string sIP;         // "ip"
  std::string sUsername;   // "username": the camera's own login
  std::string sPassword;   // "password"
};

// "http://[USER:PASS@]IP/PATH": the login only when both parts are there,
// one "/" between the host and the path whether the path has it or not.
std::string AssembleLocalStreamURL(const CameraVariables& _Camera) {
  std::string sURL = "http://";
  if (!_Camera.sUsername.empty() && !_Camera.sPassword.empty())
    sURL += _Camera.sUsername + ":" + _Camera.sPassword + "@";
  sURL += _Camera.sIP;
  if (_Camera.sDirectURL[0] != '/') sURL += "/";
  return sURL + _Camera.sDirectURL;
}

// The text of a member of the reply object, false when the member is
// missing or JSON null (which has no text).
bool GetMemberText(json_object* p_json_object, const char* sKey,
                   std::string* pText) {
  json_object* p_json_member = nullptr;
  if (!json_object_object_get_ex(p_json_object, sKey, &p_json_member))
    return false;
  const char* sText = json_object_get_string(p_json_member);
  if (sText == nullptr) return false;
  *pText = sText;
  return true;
}

}  // namespace

std::string PollLoop::GetCameraImageURL(int iDevice) {
  std::string sBase = GetBaseURL();
  // No current unit, or its base URL does not fit: there is no address.
  if (sBase.empty()) return "";
  return sBase + FormatCameraImagePath(iDevice, Now());
}

std::string PollLoop::GetCameraStreamURL(int iDevice, std::string& sType) {
  CameraVariables _Camera;
  {
    // The poll thread changes the device's variables under the lock.
    MutexHolder _Lock(m_pMutex);
    Device* pDevice = FindDevice(iDevice);
    if (pDevice == nullptr) {
      sType = "bad_device";
      return "";
    }
    _Camera.sDirectURL = pDevice->GetVariable("streaming");
    _Camera.sIP = pDevice->GetVariable("ip");
    _Camera.sUsername = pDevice->GetVariable("username");
    _Camera.sPassword = pDevice->GetVariable("password");
  }
  if (_Camera.sDirectURL.empty()) {
    sType = "not_supported";
    return "";
  }
  Engine _Engine;
  if (!CopyEngine(&_Engine) || !_Engine.m_bUsingRemote)
    return AssembleLocalStreamURL(_Camera);

  std::string URL = FormatCameraPortURL(
      _Engine.m_sFwdActive, _Engine.m_sUsername, _Engine.m_sPassword,
      _Engine.m_iSerialNumber, iDevice);
  sType = "failed";
  // Too long for its 500-byte buffer: refused, nothing is sent.
  if (URL.empty()) return "";
  DataBlock _DataBlock(true);
  if (FetchURL(URL, 90, &_DataBlock) != 0 || _DataBlock.m_iSize == 0)
    return "";
  return ReadCameraPortReply(_DataBlock.m_pData, sType);
}

std::string ReadCameraPortReply(const char* sReply, std::string& sType) {
  json_object* p_json_object = json_tokener_parse(sReply);
  std::string sStatus;
  std::string sStreamURL;
  if (p_json_object != nullptr &&
      json_object_is_type(p_json_object, json_type_object) &&
      GetMemberText(p_json_object, "status", &sStatus) &&
      GetMemberText(p_json_object, "url", &sStreamURL)) {
    sType = sStatus;
  } else {
    sStreamURL.clear();
  }
  if (p_json_object != nullptr) json_object_put(p_json_object);
  return sStreamURL;
}

}  // namespace Veru
