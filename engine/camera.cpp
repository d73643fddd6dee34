// Camera URLs: the still-image URL of a device, and the URL of its video
// stream, assembled from the camera's variables locally or asked of the
// controller (lu_camera_port) remotely.
#include <json-c/json.h>

#include "engine/clock.h"
#include "engine/json_reply.h"
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
  CommandHolder _Command(this);
  DataBlock _DataBlock(true);
  if (PastDeadline() ||
      FetchURL(URL, MaskPassword(URL), FetchTimeLimit(), &_DataBlock) != 0 ||
      _DataBlock.m_iSize == 0)
    return "";
  return ReadCameraPortReply(_DataBlock.m_pData, sType);
}

std::string ReadCameraPortReply(const char* sReply, std::string& sType) {
  json_object* p_json_object = ParseReply(sReply);
  std::string sStatus;
  std::string sStreamURL;
  if (CopyMemberText(p_json_object, "status", &sStatus) &&
      CopyMemberText(p_json_object, "url", &sStreamURL)) {
    sType = sStatus;
  } else {
    sStreamURL.clear();
  }
  json_object_put(p_json_object);
  return sStreamURL;
}

}  // namespace Veru
