// node-soap from the shipped WSDL: node node_client.js WSDL ENDPOINT REPORT
// (INTEROP_NODE_MODULES names the folder that holds the soap package.)
// Prints "r number N" for a SetResponse, "fault CODE" for a SOAP Fault.
const path = require('path');
const soap = require(path.join(process.env.INTEROP_NODE_MODULES, 'soap'));

(async () => {
  const client = await soap.createClientAsync(process.argv[2], {endpoint: process.argv[3]});
  try {
    const [response] = await client.SetAsync({xIn: process.argv[4]});
    console.log('r', typeof response.r, response.r);
  } catch (error) {
    const fault = error.root && error.root.Envelope && error.root.Envelope.Body.Fault;
    if (!fault)
      throw error;
    console.log('fault', fault.faultcode);
  }
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
