<?php
// A PHP SoapServer built from the shipped WSDL, run by PHP's built-in web server:
//   INTEROP_WSDL=... INTEROP_ANSWER=r=N|fault=client|fault=server INTEROP_RECORD=FILE \
//   php -S 127.0.0.1:PORT php_server.php
// Appends each decoded xIn to the record file as one line of hexadecimal UTF-8.
class DeviceConfig {
    public function Set($request) {
        file_put_contents(getenv('INTEROP_RECORD'), bin2hex($request->xIn) . "\n", FILE_APPEND);
        $answer = getenv('INTEROP_ANSWER');
        if ($answer === 'fault=client')
            throw new SoapFault('Client', 'told to refuse');
        if ($answer === 'fault=server')
            throw new SoapFault('Server', 'told to fail');
        return ['r' => (int)substr($answer, 2)];
    }
    public function Get($request) {
        return ['xOut' => $request->xIn];
    }
}
$server = new SoapServer(getenv('INTEROP_WSDL'), ['cache_wsdl' => WSDL_CACHE_NONE]);
$server->setObject(new DeviceConfig());
$server->handle();
