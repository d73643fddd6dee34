// Every request this client sends, in one place: the controller's base URLs
// and data_request paths, and the locator URLs. The account's user name and
// password are percent-encoded (EscapeURLComponent) wherever they go into a
// URL; hosts, addresses and paths are inserted as they are.
//
// Each formatter returns the text, or an empty text when the result would not
// fit the 500-byte buffer it is sent from (at most 499 characters) or when
// an inserted text holds a NUL byte; callers refuse the request then. Pure
// functions, safe on any thread.
#ifndef VERU_ENGINE_REQUESTS_H
#define VERU_ENGINE_REQUESTS_H

#include <cstdint>
#include <string>

namespace Veru {

// "http://IP:3480/"
std::string FormatLocalBaseURL(const std::string& sIp);

// "https://FWD/USER/PASS/SERIAL/", USER and PASS percent-encoded. A host
// holding "/" is refused (empty): the password must stay the second path
// segment, which is what MaskPassword hides.
std::string FormatRemoteBaseURL(const std::string& sFwdActive,
                                const std::string& sUsername,
                                const std::string& sPassword,
                                int iSerialNumber);

// "data_request?id=lu_sdata&loadtime=..&dataversion=..&minimumdelay=..&timeout=.."
std::string FormatStatusPath(int iLoadTime, int iDataVersion,
                             int iMinimumDelay, int iTimeout);

// "data_request?id=lu_action&DeviceNum=N&serviceId=S&action=A&output_format=json"
// followed by "&" + sArguments when sArguments is not empty.
std::string FormatActionPath(int iDevice, const std::string& sServiceId,
                             const std::string& sAction,
                             const std::string& sArguments);

// "data_request?id=lu_action&serviceId=urn:lumenhollow-com:serviceId:
// HomeAutomationGateway1&action=RunScene&SceneNum=N&output_format=json":
// the unit runs scene N (no device number).
std::string FormatScenePath(int iScene);

// "data_request?id=cam_image&Device_Num=N&time=T"
std::string FormatCameraImagePath(int iDevice, int64_t tNow);

// "https://FWD/USER/PASS/SERIAL/data_request?id=lu_camera_port&DeviceNum=N":
// the remote base URL (encoded and refused as there) and the request path.
std::string FormatCameraPortURL(const std::string& sFwdActive,
                                const std::string& sUsername,
                                const std::string& sPassword,
                                int iSerialNumber, int iDevice);

// "http://HOST/locator_json.php", with "?username=NAME" (NAME
// percent-encoded) when sUsername is not empty.
std::string FormatLocatorURL(const std::string& sHost,
                             const std::string& sUsername);

// sURL as it may be shown to the user: in an "https://" URL the second path
// segment becomes "***". Every HTTPS URL this client sends comes from the
// two forward-server formatters above, whose second segment is the
// password: encoded, it holds no "/", and the host before it holds none
// either. Any other URL comes back as it is.
std::string MaskPassword(const std::string& sURL);

// sText with every "https://" URL in it (up to a blank, a line end, a quote
// or an angle bracket) masked as MaskPassword masks it: for the fetcher's
// log, which writes the URLs it fetched among its own lines.
std::string MaskPasswords(const std::string& sText);

}  // namespace Veru

#endif  // VERU_ENGINE_REQUESTS_H
