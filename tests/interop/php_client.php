<?php
// PHP's SoapClient from the shipped WSDL: php php_client.php WSDL ENDPOINT REPORT
// Prints "r number N" for a SetResponse, "fault CODE" for a SOAP Fault.
$client = new SoapClient($argv[1], ['location' => $argv[2], 'cache_wsdl' => WSDL_CACHE_NONE]);
try {
    $response = $client->Set(['xIn' => $argv[3]]);
    echo 'r ', is_int($response->r) ? 'number' : gettype($response->r), ' ', $response->r, "\n";
} catch (SoapFault $fault) {
    echo 'fault ', $fault->faultcode, "\n";
}
